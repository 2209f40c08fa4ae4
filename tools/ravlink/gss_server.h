// The server side of the Kerberos protocol over plain GSSAPI, as real servers speak it: the
// five-byte preamble, length-framed gss_accept_sec_context tokens, then one gss_wrap /
// gss_unwrap token per message. Blocking I/O on a connected socket (POSIX only). Used by
// `ravlink serve` and by the tests as the library's peer.
#pragma once

#ifndef _WIN32

#include <gssapi/gssapi.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace tool {

class GssServer {
public:
    // fd stays the caller's. keytab: the acceptor's keys (null or empty: KRB5_KTNAME or the default).
    GssServer(int fd, const char *keytab);
    ~GssServer();
    GssServer(const GssServer &) = delete;
    GssServer &operator=(const GssServer &) = delete;

    // Reads the preamble 00 00 7F 01 level; the level in *level.
    bool read_preamble(int *level);
    // Accepts the security context over framed tokens until it is complete.
    bool accept_context();
    // One frame: four big-endian length bytes and the token.
    bool recv_frame(std::string &token);
    bool send_frame(const void *data, std::size_t length);
    // gss_unwrap of one token; *encrypted tells whether it was encrypted.
    bool unwrap(const std::string &token, std::string &plain, bool *encrypted);
    // gss_wrap, encrypted or signed only.
    bool wrap(const std::string &plain, bool encrypt, std::string &token);
    // Reads exactly length raw bytes (level 1 data); false at end of stream.
    bool read_raw(void *data, std::size_t length);
    bool write_raw(const void *data, std::size_t length);

    const std::string &client() const { return client_; }
    // The last failure, with GSSAPI's text where it came from there.
    const std::string &error() const { return error_; }

private:
    bool gss_failed(const char *what, OM_uint32 major, OM_uint32 minor);

    int fd_;
    std::string keytab_;
    gss_cred_id_t cred_ = GSS_C_NO_CREDENTIAL;
    gss_ctx_id_t ctx_ = GSS_C_NO_CONTEXT;
    std::string client_;
    std::string error_;
};

// Serves one connection: preamble, context, then echo until the client closes. At level 1 the
// bytes come back as they arrived; at levels 2 and 3 each message is unwrapped and its answer
// wrapped with the protection the client used. Level 0 in `level` accepts whatever level the
// preamble names. True when the client closed normally (a failure's reason goes to stderr).
bool serve_kerberos_connection(int fd, int level, const char *keytab, bool verbose);

} // namespace tool

#endif
