// The per-thread pointer on POSIX: a thread-local holder whose destructor releases the value at
// the thread's exit (the C++ runtime keeps a shared object loaded until then).
#include "platform/thread_slot.h"

namespace plat {

namespace {
SlotRelease s_release = nullptr;

struct Holder {
    void *value = nullptr;
    ~Holder() {
        if (value != nullptr && s_release != nullptr) s_release(value);
        value = nullptr;
    }
};
thread_local Holder t_holder;
} // namespace

bool open_thread_slot(SlotRelease release) {
    s_release = release;
    return true;
}

void *thread_slot() { return t_holder.value; }

bool set_thread_slot(void *value) {
    t_holder.value = value;
    return true;
}

void end_thread_slot() {
    void *value = t_holder.value;
    t_holder.value = nullptr;
    if (value != nullptr && s_release != nullptr) s_release(value);
}

void close_thread_slot() {}

} // namespace plat
