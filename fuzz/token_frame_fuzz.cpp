// The token frame reader fed from a socket: the input's first byte chooses whether a security
// context exists (which decides the clear-text test); the rest is what the peer sends before it
// closes. Frames are read until one fails; every failure must leave a text and no buffer leak.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/context.h"
#include "kerberos/token_framing.h"
#include "ravlink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) std::abort();
    // The whole input fits in the socket's buffer: write it and close, so that reads never wait.
    int buffer = static_cast<int>(size) + 4096;
    ::setsockopt(ends[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    for (std::size_t done = 1; done < size;) {
        ssize_t n = ::send(ends[1], data + done, size - done, MSG_NOSIGNAL);
        if (n <= 0) std::abort();
        done += static_cast<std::size_t>(n);
    }
    ::close(ends[1]);

    struct timeval tv = {1, 0};
    RavlinkContext *pc = RavlinkInitContext(ends[0], &tv, 0, nullptr, nullptr, nullptr, nullptr);
    if (pc == nullptr) std::abort();
    pc->sizes.cbMaxToken = (data[0] & 1) ? 12000 : 0;
    for (int i = 0; i < 64 && recv_token(pc, &pc->recvToken) == 0; ++i)
        if (pc->recvToken.length > pc->recvToken.capacity) std::abort();
    RavlinkClose(pc);
    return 0;
}
