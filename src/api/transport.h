// The choice of a connection's transport (see core/context.h's Transport).
#pragma once

struct RavlinkContext;

// Sets pc->transport from the kind of connection: TLS by its security type, Kerberos-protected
// messages at levels 2 and 3, the raw socket otherwise (plain, and Kerberos authentication only).
// Called once the connect has decided the kind, before anything is sent or received.
void s_chooseTransport(RavlinkContext *pc);
