// The per-thread pointer on Windows: one TlsAlloc slot. Its values are released by the DLL's
// thread-detach notification, so that no compiler-managed thread-local runs (and is recreated)
// around it; the values still held when the library is unloaded are released then.
#include <windows.h>

#include <new>
#include <set>

#include "platform/platform.h"
#include "platform/thread_slot.h"

namespace plat {

namespace {
DWORD s_slot = TLS_OUT_OF_INDEXES;
SlotRelease s_release = nullptr;
// Every value stored and not yet released, for the unload (guarded by the library lock).
std::set<void *> *s_live = nullptr;

void forget(void *value) {
    LibraryLock lock;
    if (s_live != nullptr) s_live->erase(value);
}
} // namespace

bool open_thread_slot(SlotRelease release) {
    if (s_slot != TLS_OUT_OF_INDEXES) return true;
    s_release = release;
    s_live = new (std::nothrow) std::set<void *>;
    s_slot = TlsAlloc();
    return s_slot != TLS_OUT_OF_INDEXES;
}

void *thread_slot() { return s_slot == TLS_OUT_OF_INDEXES ? nullptr : TlsGetValue(s_slot); }

bool set_thread_slot(void *value) {
    if (s_slot == TLS_OUT_OF_INDEXES) return false;
    if (value != nullptr) {
        LibraryLock lock;
        if (s_live == nullptr) return false;
        try {
            s_live->insert(value);
        } catch (...) {
            return false;
        }
    }
    if (TlsSetValue(s_slot, value)) return true;
    if (value != nullptr) forget(value);
    return false;
}

void end_thread_slot() {
    void *value = thread_slot();
    if (value == nullptr) return;
    TlsSetValue(s_slot, nullptr);
    forget(value);
    s_release(value);
}

void close_thread_slot() {
    if (s_slot == TLS_OUT_OF_INDEXES) return;
    LibraryLock lock;
    if (s_live != nullptr) {
        for (void *value : *s_live) s_release(value);
        delete s_live;
        s_live = nullptr;
    }
    TlsFree(s_slot);
    s_slot = TLS_OUT_OF_INDEXES;
}

} // namespace plat
