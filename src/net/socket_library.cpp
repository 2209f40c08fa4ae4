// The socket library is started on first use and stopped after the last, by a count kept
// under the library lock.
#include "net/socket_library.h"

#include "diag/error_state.h"
#include "diag/trace.h"
#include "platform/platform.h"
#include "platform/sockets.h"

namespace {
unsigned s_wsastart = 0;
}

int s_wsockstart() {
    unsigned count;
    {
        plat::LibraryLock lock;
        if (s_wsastart == 0) {
            int result = plat::wsa_startup();
            ravlink_tracelog(1, "s_wsockstart() called WSAStartup(), result = %d.\n", result);
            if (result != 0) {
                s_setError("Socket library initialization failed.", static_cast<std::uint32_t>(result));
                return 0;
            }
        }
        count = ++s_wsastart;
    }
    ravlink_tracelog(1, "s_wsockstart() , wsastart = %d.\n", count);
    return 1;
}

void s_wsacleanup() {
    plat::LibraryLock lock;
    if (s_wsastart == 0) return;
    ravlink_tracelog(1, "s_wsacleanup() , wsastart = %d.\n", s_wsastart);
    if (--s_wsastart == 0) {
        plat::wsa_cleanup();
        ravlink_tracelog(1, "s_wsacleanup() , called WSACleanup().\n");
    }
}

unsigned s_wsockcount() {
    plat::LibraryLock lock;
    return s_wsastart;
}
