// The DLL entry point: runs the library's start-up and shut-down for each notification.
#include <windows.h>

#include "diag/startup.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH: ravlink_process_attach(); break;
    case DLL_THREAD_ATTACH: ravlink_thread_attach(); break;
    case DLL_THREAD_DETACH: ravlink_thread_detach(); break;
    case DLL_PROCESS_DETACH: ravlink_process_detach(); break;
    default: break;
    }
    return TRUE;
}
