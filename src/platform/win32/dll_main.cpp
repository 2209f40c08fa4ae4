// The DLL entry point: runs the library's start-up and shut-down for each notification.
#include <windows.h>

#include "platform/load_hooks.h"
#include "platform/thread_slot.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH: s_onProcessAttach(); break;
    case DLL_THREAD_ATTACH: s_onThreadAttach(); break;
    case DLL_THREAD_DETACH: s_onThreadDetach(); break;
    case DLL_PROCESS_DETACH:
        s_onProcessDetach();
        // Unloaded while the process goes on: give back what live threads still hold. When the
        // process ends, its other threads are gone and their state goes with the process.
        if (reserved == nullptr) plat::close_thread_slot();
        break;
    default: break;
    }
    return TRUE;
}
