// Windows has no SIGPIPE: a write to a reset connection just fails.
#include "platform/no_sigpipe.h"

namespace plat {

NoSigpipe::NoSigpipe() { (void)savedMask_; (void)pendingBefore_; }
NoSigpipe::~NoSigpipe() {}

} // namespace plat
