// ravlink serve: an echo server for the library's peers, serving many clients at once (one
// thread each). The handler comes from the serve mode that the options ask for; plain otherwise.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "command.h"
#include "option_checks.h"
#include "serve_handlers.h"
#include "tool_net.h"

namespace {

std::vector<tool::OptionSpec> mode_options() {
    std::vector<tool::OptionSpec> specs;
    for (const tool::ServeMode *mode : tool::serve_modes())
        specs.insert(specs.end(), mode->options.begin(), mode->options.end());
    return specs;
}

int run(const tool::Options &o) {
    if (!o.has("--port")) {
        std::fputs("ravlink serve: needs --port (see ravlink serve --help)\n", stderr);
        return 2;
    }
    std::string error;
    if (!tool::check_port(o.get("--port"), true, error)) {
        std::fprintf(stderr, "ravlink serve: %s\n", error.c_str());
        return 2;
    }
    tool::ConnectionHandler handler;
    for (const tool::ServeMode *mode : tool::serve_modes()) {
        tool::ConnectionHandler h = mode->make(o, error);
        if (!error.empty()) {
            std::fprintf(stderr, "ravlink serve: %s\n", error.c_str());
            return 2;
        }
        if (h) {
            handler = h;
            break;
        }
    }
    if (!handler) handler = tool::echo_plain;

    ravlink_socket_t listener = tool::listen_on(o.get("--bind", "127.0.0.1"), o.get("--port"), error);
    if (listener == RAVLINK_INVALID_SOCKET) {
        std::fprintf(stderr, "ravlink serve: %s\n", error.c_str());
        return 1;
    }
    std::printf("listening on %s port %d\n", o.get("--bind", "127.0.0.1").c_str(), tool::bound_port(listener));
    std::fflush(stdout);
    for (;;) {
        ravlink_socket_t client = tool::accept_client(listener);
        if (client == RAVLINK_INVALID_SOCKET) {
            std::fprintf(stderr, "ravlink serve: accept failed: %s\n", tool::socket_error_text().c_str());
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        std::thread(handler, client).detach();
    }
}

const tool::Command command{"serve", "serve --port P [options]",
                            "echo server: sends back what each client sends, many clients at once",
                            {
                                {"--port", "P", "port to listen on (0: any free port; the port is printed)"},
                                {"--bind", "ADDR", "address to listen on (default 127.0.0.1)"},
                            },
                            run, mode_options};
RAVLINK_COMMAND(command);

} // namespace
