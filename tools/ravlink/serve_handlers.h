// The connection handlers of `ravlink serve`. A serve mode adds its options and, when its
// options are given, makes the handler that serves each accepted connection; the plain echo
// serves when no mode asks for the connection. A new mode is one file that calls
// RAVLINK_SERVE_MODE.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "command.h" // RAVLINK_TOOL_CONCAT
#include "options.h"
#include "ravlink.h"

namespace tool {

// Serves one accepted connection to its end, then closes the socket. Runs on its own thread.
using ConnectionHandler = std::function<void(ravlink_socket_t client)>;

struct ServeMode {
    std::vector<OptionSpec> options;
    // The handler for these options; an empty one when the options do not ask for this mode.
    // On bad options: an empty handler and an error text.
    std::function<ConnectionHandler(const Options &options, std::string &error)> make;
};

std::vector<const ServeMode *> &serve_modes();

struct RegisterServeMode {
    explicit RegisterServeMode(const ServeMode &mode) { serve_modes().push_back(&mode); }
};

// The plain echo: every byte received is sent back, until the client ends its side.
void echo_plain(ravlink_socket_t client);

} // namespace tool

#define RAVLINK_SERVE_MODE(mode) \
    static const ::tool::RegisterServeMode RAVLINK_TOOL_CONCAT(registered_serve_mode_, __LINE__)(mode)
