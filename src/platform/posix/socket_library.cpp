// POSIX sockets need no start; the calls are counted so that the use count can be observed.
#include <atomic>

#include "platform/sockets.h"

namespace plat {

namespace {
std::atomic<unsigned> s_cleanups{0};
}

int wsa_startup() { return 0; }
void wsa_cleanup() { ++s_cleanups; }
unsigned wsa_cleanup_calls() { return s_cleanups; }

} // namespace plat
