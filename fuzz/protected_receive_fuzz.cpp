// The level-3 receive path after a real security context: the input describes tokens that the
// peer sends (raw bytes, or the bytes wrapped encrypted or signed-only by the peer's context,
// possibly damaged on the way) and the sizes and mode of the receives that read them. Needs the
// test realm's KRB5_CONFIG, KRB5CCNAME and KRB5_KTNAME (scripts/fuzz.sh starts it).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/context.h"
#include "ravlink.h"
#include "ravlink/gss_server.h"

namespace {

RavlinkContext *client = nullptr;
int serverFd = -1;
tool::GssServer *server = nullptr;

// A connected loopback pair: the client end, then the server end.
void tcp_pair(int *c, int *s) {
    int l = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (::bind(l, reinterpret_cast<sockaddr *>(&a), n) != 0 || ::listen(l, 1) != 0 ||
        ::getsockname(l, reinterpret_cast<sockaddr *>(&a), &n) != 0)
        std::abort();
    *c = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(*c, reinterpret_cast<sockaddr *>(&a), n) != 0) std::abort();
    *s = ::accept(l, nullptr, nullptr);
    ::close(l);
}

void send_frame(const std::string &token) {
    if (std::getenv("RAVLINK_FUZZ_DUMP") != nullptr) {
        for (unsigned char ch : token) std::fprintf(stderr, "%02x", ch);
        std::fprintf(stderr, "\n");
    }
    if (!server->send_frame(token.data(), token.size())) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    int c = -1;
    tcp_pair(&c, &serverFd);
    server = new tool::GssServer(serverFd, nullptr);
    std::thread acceptor([] {
        int level = 0;
        if (!server->read_preamble(&level) || !server->accept_context()) {
            std::fprintf(stderr, "the acceptor failed: %s\n", server->error().c_str());
            std::abort();
        }
    });
    struct timeval tv = {10, 0};
    client = RavlinkInitContext(c, &tv, 3, nullptr, nullptr, nullptr, "sedrin/localhost");
    acceptor.join();
    if (client == nullptr) {
        std::fprintf(stderr, "no context: %s\n", RavlinkGetErrorString(nullptr));
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 2) return 0;
    const unsigned mode = data[0] & 1, sizeSeed = data[1];
    // Records: a kind byte, a length byte, then that many bytes (cut at the end of the input).
    int frames = 0;
    for (std::size_t at = 2; at + 2 <= size && frames < 64; ++frames) {
        const unsigned kind = data[at];
        std::size_t length = data[at + 1];
        at += 2;
        if (length > size - at) length = size - at;
        std::string bytes(reinterpret_cast<const char *>(data + at), length), token;
        at += length;
        switch (kind % 4) {
        case 0: // the bytes as they are
            send_frame(bytes);
            break;
        case 1: // wrapped encrypted, or signed only
        case 2:
            if (!server->wrap(bytes, kind % 4 == 1, token)) std::abort();
            send_frame(token);
            break;
        default: // wrapped and damaged in one byte
            if (!server->wrap(bytes, true, token)) std::abort();
            token[(kind >> 2) % token.size()] ^= static_cast<char>(1u << (kind & 7));
            send_frame(token);
            break;
        }
    }

    RavlinkSetMode(client, mode);
    struct timeval none = {0, 0};
    char buffer[1024];
    for (int i = 0; i < 4096; ++i) {
        const std::int32_t want = 1 + static_cast<std::int32_t>((sizeSeed * (i + 1) * 7) % sizeof buffer);
        const std::int32_t rc = RavlinkRecv(client, buffer, want, &none);
        if (client->heldLength < 0 ||
            (client->heldLength > 0 &&
             (client->heldData < client->recvToken.value ||
              client->heldData + client->heldLength > client->recvToken.value + client->recvToken.length)))
            std::abort();
        if (rc == 0 && mode == 1 && (RavlinkGetRdlen(client) < 0 || RavlinkGetRdlen(client) > want)) std::abort();
        if (rc == -2 && client->heldLength == 0) break; // nothing left on the wire
    }
    client->heldLength = 0; // the next input starts afresh
    return 0;
}
