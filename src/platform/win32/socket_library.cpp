// WSAStartup and WSACleanup.
#include <winsock2.h>

#include <atomic>

#include "platform/sockets.h"

namespace plat {

namespace {
std::atomic<unsigned> s_cleanups{0};
}

int wsa_startup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
}

void wsa_cleanup() {
    WSACleanup();
    ++s_cleanups;
}

unsigned wsa_cleanup_calls() { return s_cleanups; }

} // namespace plat
