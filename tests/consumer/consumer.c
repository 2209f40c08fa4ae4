/* A caller of the installed library: prints the library's version, sends a line over a plain
 * connection to HOST PORT and prints what comes back. On Windows it also prints the version
 * resource of the ravlink64.dll it loaded. */
#include <stdio.h>
#include <string.h>

#include "ravlink.h"

#ifdef _WIN32
#include <windows.h>

static void print_version_resource(void) {
    char path[MAX_PATH], *text = NULL;
    static char info[8192];
    VS_FIXEDFILEINFO *fixed = NULL;
    UINT size = 0;
    HMODULE dll = GetModuleHandleA("ravlink64.dll");
    if (dll == NULL || GetModuleFileNameA(dll, path, sizeof path) == 0 ||
        GetFileVersionInfoSizeA(path, NULL) > sizeof info || !GetFileVersionInfoA(path, 0, sizeof info, info) ||
        !VerQueryValueA(info, "\\", (void **)&fixed, &size)) {
        printf("resource: none\n");
        return;
    }
    printf("resource file version: %u.%u.%u.%u\n", (unsigned)HIWORD(fixed->dwFileVersionMS),
           (unsigned)LOWORD(fixed->dwFileVersionMS), (unsigned)HIWORD(fixed->dwFileVersionLS),
           (unsigned)LOWORD(fixed->dwFileVersionLS));
    if (VerQueryValueA(info, "\\StringFileInfo\\040904b0\\ProductVersion", (void **)&text, &size))
        printf("resource product version: %s\n", text);
    if (VerQueryValueA(info, "\\StringFileInfo\\040904b0\\ProductName", (void **)&text, &size))
        printf("resource product name: %s\n", text);
    if (VerQueryValueA(info, "\\StringFileInfo\\040904b0\\FileDescription", (void **)&text, &size))
        printf("resource description: %s\n", text);
}
#endif

int main(int argc, char **argv) {
    static const char line[] = "hello from C";
    char version[16], reply[sizeof line];
    struct timeval tv = {10, 0};
    RavlinkContext *pc;
    int status = 1;

    if (argc != 3) {
        fprintf(stderr, "usage: consumer_c HOST PORT\n");
        return 2;
    }
    RavlinkGetVersion(version);
    printf("version: %s\n", version);
#ifdef _WIN32
    print_version_resource();
#endif
    pc = RavlinkToHostPort(argv[1], argv[2], &tv, RAVLINK_LEVEL_PLAIN, NULL);
    if (pc == NULL) {
        fprintf(stderr, "connect failed: %s\n", RavlinkGetErrorString(NULL));
        return 1;
    }
    if (RavlinkSend(pc, line, sizeof line - 1, &tv) == 1 &&
        RavlinkRecv(pc, reply, sizeof line - 1, &tv) == RAVLINK_RECV_OK) {
        printf("echo: %.*s\n", (int)(sizeof line - 1), reply);
        status = 0;
    } else {
        fprintf(stderr, "%s\n", RavlinkGetErrorString(pc));
    }
    RavlinkClose(pc);
    return status;
}
