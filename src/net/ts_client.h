// The terminal-session client name of a connection.
#pragma once

struct RavlinkContext;

// Looks the client name up and keeps it in pc->tsClientName. 1 on success (with or without a
// name), 0 when memory for the name could not be allocated.
int s_fillTSClientName(RavlinkContext *pc);
