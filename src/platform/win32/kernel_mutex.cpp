// Kernel mutexes on Windows.
#include <windows.h>

#include "platform/kernel_mutex.h"

namespace plat {

MutexHandle create_mutex() { return CreateMutexA(nullptr, FALSE, nullptr); }

void wait_mutex(MutexHandle mutex) {
    if (mutex != nullptr) WaitForSingleObject(mutex, INFINITE);
}

void release_mutex(MutexHandle mutex) {
    if (mutex != nullptr) ReleaseMutex(mutex);
}

void close_mutex(MutexHandle mutex) {
    if (mutex != nullptr) CloseHandle(mutex);
}

} // namespace plat
