// The socket calls a connection context makes on its own socket, and the last-error code.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/platform.h"

namespace plat {

int last_socket_error() { return WSAGetLastError(); }
void set_last_socket_error(int code) { WSASetLastError(code); }

bool close_socket(socket_t s) { return closesocket(s) == 0; }

bool set_nonblocking(socket_t s, bool on) {
    u_long value = on ? 1 : 0;
    return ioctlsocket(s, FIONBIO, &value) == 0;
}

bool set_tcp_nodelay(socket_t s) {
    DWORD one = 1;
    return setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof one) == 0;
}

} // namespace plat
