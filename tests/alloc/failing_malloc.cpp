// The allocators as the library's objects see them in this test program: C allocations through
// --wrap=malloc,calloc,realloc,strdup, and C++ ones through a replacement of the global operator
// new (which serves the standard library's containers too). On the armed thread, call number N
// fails: a null result, or std::bad_alloc from operator new.
#include "failing_malloc.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

extern "C" {
void *__real_malloc(std::size_t);
void *__real_calloc(std::size_t, std::size_t);
void *__real_realloc(void *, std::size_t);
char *__real_strdup(const char *);
}

namespace {
thread_local long failAt = 0, calls = 0;

bool fail_now() {
    if (failAt == 0 || ++calls != failAt) return false;
    errno = ENOMEM;
    return true;
}

void *allocate(std::size_t n) {
    if (fail_now()) throw std::bad_alloc();
    void *p = __real_malloc(n != 0 ? n : 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
} // namespace

void arm_allocation_failure(long n) {
    failAt = n;
    calls = 0;
}
long disarm_allocation_failure() {
    failAt = 0;
    return calls;
}

extern "C" {
void *__wrap_malloc(std::size_t n) { return fail_now() ? nullptr : __real_malloc(n); }
void *__wrap_calloc(std::size_t n, std::size_t size) { return fail_now() ? nullptr : __real_calloc(n, size); }
void *__wrap_realloc(void *p, std::size_t n) { return fail_now() ? nullptr : __real_realloc(p, n); }
char *__wrap_strdup(const char *s) { return fail_now() ? nullptr : __real_strdup(s); }
}

void *operator new(std::size_t n) { return allocate(n); }
void *operator new[](std::size_t n) { return allocate(n); }
void *operator new(std::size_t n, const std::nothrow_t &) noexcept {
    try {
        return allocate(n);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}
void *operator new[](std::size_t n, const std::nothrow_t &t) noexcept { return operator new(n, t); }
// The deletes pair with the news above (a sanitizer checks that each block goes back its way).
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { std::free(p); }
