// Computer names: GetComputerNameExA; an empty name counts as none (ERROR_NOT_FOUND), as on POSIX.
#include <windows.h>

#include "platform/computer_name.h"

namespace plat {

bool computer_name(NameFormat format, char *buffer, std::uint32_t *size) {
    DWORD n = *size;
    BOOL ok = GetComputerNameExA(static_cast<COMPUTER_NAME_FORMAT>(format), buffer, &n);
    *size = n;
    if (ok && n == 0) {
        // A workgroup computer has no DNS domain: the call succeeds with an empty name and leaves
        // the last-error code as it was. Say so, rather than pass on a stale code.
        SetLastError(ERROR_NOT_FOUND);
        return false;
    }
    return ok != FALSE;
}

} // namespace plat
