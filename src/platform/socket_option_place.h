// Where each socket option lives (level and name): the same names on Winsock and on POSIX
// sockets. Included by the platform's socket calls after the system's socket headers.
#pragma once

#include "platform/sockets.h"

namespace plat {

inline bool option_place(SocketOption option, int &level, int &name) {
    switch (option) {
    case SocketOption::ReceiveBuffer: level = SOL_SOCKET; name = SO_RCVBUF; return true;
    case SocketOption::SendBuffer: level = SOL_SOCKET; name = SO_SNDBUF; return true;
    case SocketOption::KeepAlive: level = SOL_SOCKET; name = SO_KEEPALIVE; return true;
    case SocketOption::IPv6Only: level = IPPROTO_IPV6; name = IPV6_V6ONLY; return true;
    }
    return false;
}

} // namespace plat
