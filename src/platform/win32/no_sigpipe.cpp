// Windows has no SIGPIPE: a write to a reset connection just fails.
#include "platform/no_sigpipe.h"

namespace plat {

bool writes_can_raise_sigpipe() { return false; }

NoSigpipe::NoSigpipe() { (void)savedMask_; (void)pendingBefore_; }
NoSigpipe::~NoSigpipe() {}

} // namespace plat
