// The unit tests link the library's objects into a program, where no DllMain runs on Windows:
// run the library's start-up the way DllMain would.
#ifdef _WIN32
#include "platform/load_hooks.h"

namespace {
const bool attached = [] {
    s_onProcessAttach();
    return true;
}();
} // namespace
#endif
