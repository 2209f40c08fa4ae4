// The plain echo of `ravlink serve`: level 0, the caller's bytes unchanged.
#include <vector>

#include "serve_handlers.h"
#include "tool_net.h"

namespace tool {

std::vector<const ServeMode *> &serve_modes() {
    static std::vector<const ServeMode *> list;
    return list;
}

void echo_plain(ravlink_socket_t client) {
    std::vector<char> buf(64 * 1024);
    for (;;) {
        int n = recv_some(client, buf.data(), static_cast<int>(buf.size()));
        if (n <= 0 || !send_all(client, buf.data(), n)) break;
    }
    close_socket(client);
}

} // namespace tool
