// Process attach and detach on POSIX: an ELF constructor and destructor. Per-thread state is
// cleared when a thread first uses it and freed at thread exit by its thread-local destructor.
#include "platform/load_hooks.h"

namespace {
__attribute__((constructor)) void on_load() { s_onProcessAttach(); }
__attribute__((destructor)) void on_unload() { s_onProcessDetach(); }
} // namespace
