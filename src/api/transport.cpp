// How each kind of connection sends and receives: one table per kind, chosen once when the
// connection is made. Plain and Kerberos level-1 connections move the caller's bytes on the raw
// socket, TLS connections through the TLS session, Kerberos levels 2 and 3 as protected tokens.
#include "api/transport.h"

#include <cstdint>

#include "core/context.h"
#include "diag/error_state.h"
#include "diag/trace.h"
#include "kerberos/protected_io.h"
#include "net/socket_io.h"
#include "tls/netssl.h"

namespace {

using ReadAll = std::int32_t (*)(RavlinkContext *, unsigned char *, std::uint32_t, std::int32_t);
using WriteAll = std::int32_t (*)(RavlinkContext *, const unsigned char *, std::uint32_t);

// A failed read or write on a byte stream: the TLS session's text joins the error (a connection
// without one has none to add), and the code is the result.
std::int32_t stream_failure(RavlinkContext *pc) {
    s_appendTlsError(pc);
    return static_cast<std::int32_t>(pc->error);
}

// RavlinkRecv on a byte stream: VREAD takes what the first read brings, FREAD waits for all.
std::int32_t receive_stream(RavlinkContext *pc, unsigned char *buffer, std::int32_t length, ReadAll read) {
    if ((pc->mode & kModeVread) != 0) {
        std::int32_t got = read(pc, buffer, static_cast<std::uint32_t>(length), 1);
        if (got <= 0) {
            pc->rdlen = 0;
            ravlink_tracelog(5, "RavlinkRecv() VREAD returning pc->error=%d.\n", static_cast<int>(pc->error));
            return stream_failure(pc);
        }
        pc->rdlen = got;
        return 0;
    }
    std::int32_t got = read(pc, buffer, static_cast<std::uint32_t>(length), 0);
    pc->rdlen = got;
    if (got == length) return 0;
    ravlink_tracelog(5, "RavlinkRecv(len=%d) FREAD received %d returning pc->error=%d.\n", length, got,
                     static_cast<int>(pc->error));
    if (pc->error == 0) return -2;
    return stream_failure(pc);
}

// RavlinkSend on a byte stream: the whole buffer in one write.
bool send_stream(RavlinkContext *pc, const unsigned char *buffer, std::uint32_t length, WriteAll write) {
    std::int32_t written = write(pc, buffer, length);
    if (written >= 0 && static_cast<std::uint32_t>(written) == length) return true;
    s_appendTlsError(pc);
    ravlink_tracelog(5, "RavlinkSend(), unencrypted, returning FALSE, pc->error=%d.\n", static_cast<int>(pc->error));
    s_traceLibraryError("RavlinkErrorString=", "\n");
    return false;
}

std::int32_t raw_receive(RavlinkContext *pc, unsigned char *buffer, std::int32_t length) {
    return receive_stream(pc, buffer, length, read_all);
}
bool raw_send(RavlinkContext *pc, const unsigned char *buffer, std::uint32_t length, const struct timeval *) {
    return send_stream(pc, buffer, length, write_all);
}
std::int32_t tls_receive(RavlinkContext *pc, unsigned char *buffer, std::int32_t length) {
    return receive_stream(pc, buffer, length, tls_read_all);
}
bool tls_send(RavlinkContext *pc, const unsigned char *buffer, std::uint32_t length, const struct timeval *) {
    return send_stream(pc, buffer, length, tls_write_all);
}

const Transport kRaw{raw_receive, raw_send};
const Transport kTls{tls_receive, tls_send};
const Transport kProtected{s_recvProtected, s_sendProtected};

} // namespace

void s_chooseTransport(RavlinkContext *pc) {
    if (pc->securityType == kSecurityTls)
        pc->transport = &kTls;
    else if (pc->securityLevel >= 2)
        pc->transport = &kProtected;
    else
        pc->transport = &kRaw;
}
