// The transport's socket calls: Winsock as it is.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/codes.h"
#include "platform/socket_option_place.h"
#include "platform/sockets.h"

namespace plat {

// Sockets are not inherited: a child process of the host must not keep a connection open
// after RavlinkClose. Systems before Windows 7 SP1 refuse the flag; the handle is then made
// non-inheritable after the fact.
socket_t open_socket(int family, int type, int protocol) {
    socket_t s = WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == kInvalidSocket && WSAGetLastError() == WSAEINVAL) {
        s = WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (s != kInvalidSocket) SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    }
    if (s != kInvalidSocket) set_nonblocking(s, true);
    return s;
}

bool connect_socket(socket_t s, const sockaddr *address, socklen_t length) {
    return ::connect(s, address, length) == 0;
}

bool bind_socket(socket_t s, const sockaddr *address, socklen_t length) {
    return ::bind(s, address, length) == 0;
}

int send_bytes(socket_t s, const void *data, int length) {
    int n = ::send(s, static_cast<const char *>(data), length, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int recv_bytes(socket_t s, void *data, int length) {
    int n = ::recv(s, static_cast<char *>(data), length, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

bool set_socket_option(socket_t s, SocketOption option, int value) {
    int level, name;
    if (!option_place(option, level, name)) {
        WSASetLastError(codes::kWsaNoProtoOpt);
        return false;
    }
    return ::setsockopt(s, level, name, reinterpret_cast<const char *>(&value), sizeof value) == 0;
}

int pending_socket_error(socket_t s) {
    int err = 0;
    int n = sizeof err;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&err), &n) != 0) return -1;
    return err;
}

int select_socket(socket_t s, unsigned sets, const struct timeval *timeout, unsigned *ready) {
    *ready = 0;
    fd_set readSet, writeSet, exceptSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&exceptSet);
    if (sets & kWaitRead) FD_SET(s, &readSet);
    if (sets & kWaitWrite) FD_SET(s, &writeSet);
    if (sets & kWaitExcept) FD_SET(s, &exceptSet);
    timeval copy{};
    timeval *limit = nullptr;
    if (timeout != nullptr) {
        copy = *timeout;
        limit = &copy;
    }
    int n = ::select(0, (sets & kWaitRead) ? &readSet : nullptr, (sets & kWaitWrite) ? &writeSet : nullptr,
                     (sets & kWaitExcept) ? &exceptSet : nullptr, limit);
    if (n == SOCKET_ERROR) return -1;
    if (n == 0) return 0;
    if ((sets & kWaitRead) && FD_ISSET(s, &readSet)) *ready |= kWaitRead;
    if ((sets & kWaitWrite) && FD_ISSET(s, &writeSet)) *ready |= kWaitWrite;
    if ((sets & kWaitExcept) && FD_ISSET(s, &exceptSet)) *ready |= kWaitExcept;
    return 1;
}

} // namespace plat
