// read_all and write_all on the raw socket. The socket is non-blocking: a read waits for
// readability before each receive; a write sends at once and, when the socket cannot take data,
// waits for room and sends on for as long as each wait sees some.
#include "net/socket_io.h"

#include <climits>
#include <cstdint>

#include "core/context.h"
#include "core/text.h"
#include "diag/error_state.h"
#include "diag/trace.h"
#include "platform/codes.h"
#include "platform/sockets.h"

namespace {


int chunk_of(std::uint32_t remaining) { return remaining > INT_MAX ? INT_MAX : static_cast<int>(remaining); }

std::uint32_t last_code() { return static_cast<std::uint32_t>(plat::last_socket_error()); }

} // namespace

std::int32_t read_all(RavlinkContext *pc, unsigned char *buffer, std::uint32_t wanted, std::int32_t partial) {
    if (wanted == 0) return 0;
    std::uint32_t received = 0;
    for (;;) {
        // Every pass waits for readability under the connection's time-out before it receives,
        // so a wait that cannot be made (a bad time-out, a socket that is not one) is reported
        // as such even when data is queued.
        unsigned ready = 0;
        struct timeval limit;
        int waited = plat::select_socket(pc->socket, plat::kWaitRead, s_currentTimeout(pc, &limit), &ready);
        if (waited < 0) {
            std::uint32_t code = last_code();
            pc->error = code;
            ravlink_tracelog(6, "read_all:  WSAGetLastError() = %d following select()\n", static_cast<int>(code));
            s_appendError("read_all:  select() returned SOCKET_ERROR.  ", code);
            return -1;
        }
        if (waited == 0) return 0;
        int n = plat::recv_bytes(pc->socket, buffer + received, chunk_of(wanted - received));
        if (n < 0) {
            std::uint32_t code = last_code();
            pc->error = code;
            ravlink_tracelog(6, "read_all:  recv after select() returned error (%d)\n", static_cast<int>(code));
            s_appendError("read_all:  recv() returned SOCKET_ERROR.  ", code);
            return n;
        }
        if (n == 0) {
            ravlink_tracelog(5,
                             "read_all: remote disconnect, recv() returned 0, %d characters buffered, "
                             "WSAGetLastError()=%d.\n",
                             static_cast<int>(received), plat::last_socket_error());
            s_appendError("read_all:  remote disconnect, recv() returned 0.  ", pc->error);
            pc->error = codes::kWsaConnAborted;
            return static_cast<std::int32_t>(received);
        }
        if (partial != 0) return n;
        received += static_cast<std::uint32_t>(n);
        if (received == wanted) return static_cast<std::int32_t>(received);
    }
}

std::int32_t write_all(RavlinkContext *pc, const unsigned char *buffer, std::uint32_t length) {
    if (length == 0) return 0;
    // Each send takes what the socket has room for. When it has none, wait for room under the
    // time-out; a wait that ends with room starts a fresh time-out for the next one, so a reader
    // that keeps draining, however slowly, never fails the write. Only a wait of the whole
    // time-out without room ends it.
    std::uint32_t sent = 0;
    for (;;) {
        const unsigned char *cursor = buffer + sent;
        int remaining = chunk_of(length - sent);
        int n = plat::send_bytes(pc->socket, cursor, remaining);
        if (n > 0) {
            ravlink_tracelog(1, "write_all:  send(sock, %x, %d, 0) transmitted %d bytes immediately.\n",
                             core::low32(cursor), remaining, n);
            sent += static_cast<std::uint32_t>(n);
            if (sent == length) return static_cast<std::int32_t>(length);
            continue;
        }
        std::uint32_t code = last_code();
        if (n == 0) {
            pc->error = code;
            ravlink_tracelog(6, "write_all:  send() before select() returned zero, WSAGetLastError() = %d\n",
                             static_cast<int>(code));
            s_appendError("write_all:  send() before select() returned zero.  ", code);
            return static_cast<std::int32_t>(sent);
        }
        if (code != codes::kWsaWouldBlock) {
            pc->error = code;
            ravlink_tracelog(6, "write_all:  WSAGetLastError() = %d following send < 0\n", static_cast<int>(code));
            s_appendError("write_all:  send() returned SOCKET_ERROR.  ", code);
            return n;
        }
        unsigned ready = 0;
        struct timeval limit;
        int waited = plat::select_socket(pc->socket, plat::kWaitWrite, s_currentTimeout(pc, &limit), &ready);
        ravlink_tracelog(1, "write_all:  select returned %d\n", waited);
        if (waited < 0) {
            code = last_code();
            pc->error = code;
            ravlink_tracelog(6, "write_all: WSAGetLastError() = %d following select\n", static_cast<int>(code));
            s_appendError("write_all:  select() returned SOCKET_ERROR.  ", code);
            return -1;
        }
        if (waited == 0) {
            ravlink_tracelog(5, "write_all:  partial send (%d of %d) after select(), WSAGetLastError() = %d\n",
                             static_cast<int>(sent), static_cast<int>(length), static_cast<int>(last_code()));
            s_appendError("write_all:  select() timed out.  ", last_code());
            return static_cast<std::int32_t>(sent);
        }
    }
}
