// Start-up and shut-down of the library: the load hooks that the platform's entry points call.
#include "platform/load_hooks.h"

#include "diag/error_state.h"
#include "diag/trace.h"
#include "platform/platform.h"

void s_onProcessAttach() {
    s_initErrorState();
    plat::library_lock(); // creates the library lock
    plat::library_unlock();
    s_readTraceSettings();
    s_threadAttach();
}

void s_onProcessDetach() { s_freeTraceSettings(); }

void s_onThreadAttach() { s_threadAttach(); }

void s_onThreadDetach() { s_threadDetach(); }
