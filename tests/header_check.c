/* Compiled as C89, C99, C11 and C++ with every warning an error: the public header must stand
 * alone in each. The named constants keep the values the library's callers rely on. */
#include "ravlink.h"

#define RAVLINK_CHECK(name, cond) typedef char name[(cond) ? 1 : -1]

RAVLINK_CHECK(levels, RAVLINK_LEVEL_PLAIN == 0 && RAVLINK_LEVEL_KERBEROS_AUTH == 1 &&
                          RAVLINK_LEVEL_KERBEROS_INTEGRITY == 2 && RAVLINK_LEVEL_KERBEROS_PRIVACY == 3 &&
                          RAVLINK_LEVEL_TLS_NAMED == 10 && RAVLINK_LEVEL_TLS_RECORD == 11);
RAVLINK_CHECK(types, RAVLINK_TYPE_NONE == 0 && RAVLINK_TYPE_KERBEROS == 1 && RAVLINK_TYPE_TLS == 2);
RAVLINK_CHECK(modes, RAVLINK_FREAD == 0 && RAVLINK_VREAD == 1);
RAVLINK_CHECK(results, RAVLINK_SUCCESS == 1 && RAVLINK_FAILURE == 0 && RAVLINK_RECV_OK == 0 &&
                           RAVLINK_RECV_INVALID == -1 && RAVLINK_RECV_NO_CODE == -2);
RAVLINK_CHECK(codes, RAVLINK_NO_ERROR_RECORDED == 0xFFFFFFFFu && RAVLINK_TLS_FAILED == -6 &&
                         RAVLINK_TLS_TIMED_OUT == -1 && RAVLINK_ERROR_CONNECTION_REFUSED == 10061);

int ravlink_header_check(void);
int ravlink_header_check(void) {
    char version[16];
    RavlinkSSLconfig *config = NULL;
    (void)config;
    return RavlinkGetVersion(version) == 15 ? RAVLINK_SUCCESS : RAVLINK_FAILURE;
}
