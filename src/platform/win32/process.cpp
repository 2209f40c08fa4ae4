// Process services on Windows: version, environment, ids, the library lock.
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace plat {

int os_major_version() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info; // 148 bytes
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    if (!GetVersionExA(&info)) return 0;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return static_cast<int>(info.dwMajorVersion);
}

bool get_env(const char *name, std::string &value) {
    DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0) return false;
    std::string buf(size, '\0');
    DWORD got = GetEnvironmentVariableA(name, &buf[0], size);
    buf.resize(got < size ? got : 0);
    value = buf;
    return true;
}

std::string expand_environment(const char *text) {
    DWORD size = ExpandEnvironmentStringsA(text, nullptr, 0);
    if (size == 0) return text;
    std::string buf(size, '\0');
    DWORD got = ExpandEnvironmentStringsA(text, &buf[0], size);
    if (got == 0 || got > size) return text;
    buf.resize(got - 1); // the count includes the terminator
    return buf;
}

std::uint32_t process_id() { return GetCurrentProcessId(); }
std::uint32_t thread_id() { return GetCurrentThreadId(); }
void wipe_memory(void *data, std::size_t length) {
    if (data != nullptr && length != 0) SecureZeroMemory(data, length);
}

void wipe_text(char *text) {
    if (text != nullptr) wipe_memory(text, std::strlen(text));
}

void yield_processor() { SleepEx(0, TRUE); }

namespace {
// A critical section created on first use and never deleted.
CRITICAL_SECTION *lock_object() {
    static CRITICAL_SECTION *cs = [] {
        auto *p = new CRITICAL_SECTION;
        InitializeCriticalSection(p);
        return p;
    }();
    return cs;
}
} // namespace

void library_lock() { EnterCriticalSection(lock_object()); }
void library_unlock() { LeaveCriticalSection(lock_object()); }

} // namespace plat
