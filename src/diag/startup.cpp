// Start-up and shut-down of the library: the load hooks that the platform's entry points call.
#include "platform/load_hooks.h"

#include "diag/error_state.h"
#include "diag/trace.h"
#include "platform/platform.h"

void ravlink_process_attach() {
    s_initErrorState();
    plat::library_lock(); // creates the library lock
    plat::library_unlock();
    s_readTraceSettings();
    s_threadAttach();
}

void ravlink_process_detach() { s_freeTraceSettings(); }

void ravlink_thread_attach() { s_threadAttach(); }

void ravlink_thread_detach() { s_threadDetach(); }
