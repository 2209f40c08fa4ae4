// Choice of the terminal services: the system's, unless a test installed its own.
#include "platform/terminal_session.h"

namespace plat {

namespace {
const TerminalServices *g_installed = nullptr;
}

const TerminalServices &terminal_services() {
    return g_installed != nullptr ? *g_installed : system_terminal_services();
}

void set_terminal_services(const TerminalServices *fake) { g_installed = fake; }

} // namespace plat
