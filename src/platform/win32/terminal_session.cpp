// The terminal services of Windows: wtsapi32.dll, loaded by name from the system folder only.
#include "platform/terminal_session.h"

namespace plat {

const TerminalServices &system_terminal_services() {
    static const TerminalServices services{&load_system_module, &module_symbol};
    return services;
}

} // namespace plat
