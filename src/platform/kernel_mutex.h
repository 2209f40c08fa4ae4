// Kernel mutexes (CreateMutexA / WaitForSingleObject / ReleaseMutex / CloseHandle): the locks
// that the TLS layer hands to OpenSSL for its shared state. Re-entrant for the owning thread.
#pragma once

namespace plat {

using MutexHandle = void *;

// An unnamed mutex, not initially owned; null when it cannot be created.
MutexHandle create_mutex();
// Waits without limit until the calling thread owns the mutex.
void wait_mutex(MutexHandle mutex);
void release_mutex(MutexHandle mutex);
void close_mutex(MutexHandle mutex);

} // namespace plat
