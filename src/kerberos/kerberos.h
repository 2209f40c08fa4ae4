// Kerberos credentials and the security context of a connection.
#pragma once

struct RavlinkContext;

// Acquires the outbound credentials (the given user, or the logged-on user when user is null)
// into pc->credentials. 1 on success, 0 with the reason in the error state.
int s_acquireCredentials(RavlinkContext *pc, const char *user, const char *password,
                         const char *authority);
// Sends the preamble and runs the token exchange over pc->socket until the context is complete,
// then fills pc->sizes. 1 on success, 0 with the reason in the error state.
int s_establish_context(RavlinkContext *pc);

// Frees the credentials handle and deletes the security context when they are valid.
void s_releaseSecurity(RavlinkContext *pc);
