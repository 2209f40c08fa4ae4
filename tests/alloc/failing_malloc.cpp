// The C allocator as the library's objects see it in this test program (linked with
// --wrap=malloc,calloc,realloc,strdup): on the armed thread, call number N fails.
#include "failing_malloc.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

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
