// Process services on POSIX: version, environment, ids, the library lock.
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <string.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace plat {

// POSIX always keeps per-thread error state: report the first Windows version that does.
int os_major_version() { return 6; }

bool get_env(const char *name, std::string &value) {
    const char *v = std::getenv(name);
    if (v == nullptr) return false;
    value = v;
    return true;
}

std::string expand_environment(const char *text) {
    std::string in = text, out;
    std::size_t pos = 0;
    while (pos < in.size()) {
        std::size_t open = in.find('%', pos);
        std::size_t close = open == std::string::npos ? open : in.find('%', open + 1);
        if (close == std::string::npos) break;
        const char *value = close > open + 1 ? std::getenv(in.substr(open + 1, close - open - 1).c_str()) : nullptr;
        out += in.substr(pos, open - pos);
        if (value != nullptr) {
            out += value;
            pos = close + 1;
        } else {
            out += '%'; // not a variable: the second % may open the next one
            pos = open + 1;
        }
    }
    return out + in.substr(pos);
}

std::uint32_t process_id() { return static_cast<std::uint32_t>(getpid()); }
std::uint32_t thread_id() { return static_cast<std::uint32_t>(syscall(SYS_gettid)); }
void wipe_memory(void *data, std::size_t length) {
    if (data != nullptr && length != 0) explicit_bzero(data, length);
}

void wipe_text(char *text) {
    if (text != nullptr) wipe_memory(text, std::strlen(text));
}

void yield_processor() { sched_yield(); }

namespace {
// Created on first use and never destroyed, so that tracing during process exit still works.
pthread_mutex_t *lock_object() {
    static pthread_mutex_t *m = [] {
        auto *p = new pthread_mutex_t;
        pthread_mutexattr_t a;
        pthread_mutexattr_init(&a);
        pthread_mutexattr_settype(&a, PTHREAD_MUTEX_RECURSIVE);
        pthread_mutex_init(p, &a);
        pthread_mutexattr_destroy(&a);
        return p;
    }();
    return m;
}
} // namespace

void library_lock() { pthread_mutex_lock(lock_object()); }
void library_unlock() { pthread_mutex_unlock(lock_object()); }

} // namespace plat
