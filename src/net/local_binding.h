// The local address and port for the next socket that a connect creates.
#pragma once

// The stored texts (null when not set).
const char *s_localBindingAddress();
const char *s_localBindingPort();
// Forgets the binding (what RavlinkSetLocalBindings(NULL, NULL) does).
void s_clearLocalBinding();
