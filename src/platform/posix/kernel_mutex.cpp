// Kernel mutexes on POSIX: recursive pthread mutexes on the heap.
#include <pthread.h>

#include <new>

#include "platform/kernel_mutex.h"

namespace plat {

MutexHandle create_mutex() {
    auto *m = new (std::nothrow) pthread_mutex_t;
    if (m == nullptr) return nullptr;
    pthread_mutexattr_t a;
    pthread_mutexattr_init(&a);
    pthread_mutexattr_settype(&a, PTHREAD_MUTEX_RECURSIVE);
    int rc = pthread_mutex_init(m, &a);
    pthread_mutexattr_destroy(&a);
    if (rc != 0) {
        delete m;
        return nullptr;
    }
    return m;
}

void wait_mutex(MutexHandle mutex) {
    if (mutex != nullptr) pthread_mutex_lock(static_cast<pthread_mutex_t *>(mutex));
}

void release_mutex(MutexHandle mutex) {
    if (mutex != nullptr) pthread_mutex_unlock(static_cast<pthread_mutex_t *>(mutex));
}

void close_mutex(MutexHandle mutex) {
    if (mutex == nullptr) return;
    auto *m = static_cast<pthread_mutex_t *>(mutex);
    pthread_mutex_destroy(m);
    delete m;
}

} // namespace plat
