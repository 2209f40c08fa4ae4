// Computer names: GetComputerNameExA.
#include <windows.h>

#include "platform/computer_name.h"

namespace plat {

bool computer_name(NameFormat format, char *buffer, std::uint32_t *size) {
    DWORD n = *size;
    BOOL ok = GetComputerNameExA(static_cast<COMPUTER_NAME_FORMAT>(format), buffer, &n);
    *size = n;
    return ok != FALSE;
}

std::uint32_t last_error() { return GetLastError(); }
void set_last_error(std::uint32_t code) { SetLastError(code); }

} // namespace plat
