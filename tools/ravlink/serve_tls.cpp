// `ravlink serve --tls`: the echo over TLS, with the server's certificate and key and, on
// request, a client certificate required from the given authority. The server side uses
// OpenSSL directly (the tool, unlike the library, links it); the Windows tool has no OpenSSL.
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <openssl/err.h>
#include <openssl/ssl.h>
#endif

#include "command.h"
#include "serve_handlers.h"
#include "tool_net.h"

namespace {

#ifndef _WIN32
std::string openssl_errors() {
    std::string text;
    for (unsigned long e = ERR_get_error(); e != 0; e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        text += text.empty() ? "" : "; ";
        text += buf;
    }
    return text.empty() ? "unknown OpenSSL failure" : text;
}

// The echo on one accepted connection: handshake, then every byte back until the client is done.
void echo_tls(const std::shared_ptr<SSL_CTX> &ctx, ravlink_socket_t client) {
    SSL *ssl = SSL_new(ctx.get());
    SSL_set_fd(ssl, static_cast<int>(client));
    if (SSL_accept(ssl) == 1) {
        std::vector<char> buf(64 * 1024);
        int n;
        while ((n = SSL_read(ssl, buf.data(), static_cast<int>(buf.size()))) > 0)
            if (SSL_write(ssl, buf.data(), n) <= 0) break;
        SSL_shutdown(ssl);
    }
    ERR_clear_error();
    SSL_free(ssl);
    tool::close_socket(client);
}

tool::ConnectionHandler make(const tool::Options &o, std::string &error) {
    if (!o.has("--tls")) return {};
    if (!o.has("--cert") || !o.has("--key")) {
        error = "--tls needs --cert and --key";
        return {};
    }
    std::shared_ptr<SSL_CTX> ctx(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    if (!ctx || SSL_CTX_use_certificate_chain_file(ctx.get(), o.get("--cert").c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx.get(), o.get("--key").c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx.get()) != 1) {
        error = "cannot use the certificate and key: " + openssl_errors();
        return {};
    }
    if (o.has("--ca") && SSL_CTX_load_verify_locations(ctx.get(), o.get("--ca").c_str(), nullptr) != 1) {
        error = "cannot read --ca: " + openssl_errors();
        return {};
    }
    if (o.has("--require-client-cert")) {
        if (!o.has("--ca")) {
            error = "--require-client-cert needs --ca";
            return {};
        }
        SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
    return [ctx](ravlink_socket_t client) { echo_tls(ctx, client); };
}
#else
tool::ConnectionHandler make(const tool::Options &o, std::string &error) {
    if (o.has("--tls")) error = "--tls is not available in the Windows build of the tool (it has no OpenSSL)";
    return {};
}
#endif

// The TLS options without --tls would go unused: refused.
tool::ConnectionHandler make_checked(const tool::Options &o, std::string &error) {
    if (!o.has("--tls")) {
        for (const char *name : {"--cert", "--key", "--ca", "--require-client-cert"}) {
            if (!o.has(name)) continue;
            error = std::string(name) + " is an option of --tls; a plain echo would not use it";
            return {};
        }
    }
    return make(o, error);
}

const tool::ServeMode mode{{
                               {"--tls", nullptr, "serve over TLS (needs --cert and --key)"},
                               {"--cert", "FILE", "with --tls: the server's certificate chain (PEM)"},
                               {"--key", "FILE", "with --tls: the server's private key (PEM)"},
                               {"--ca", "FILE", "with --tls: authorities trusted for client certificates"},
                               {"--require-client-cert", nullptr, "with --tls: refuse clients without a certificate from --ca"},
                           },
                           make_checked};
RAVLINK_SERVE_MODE(mode);

} // namespace
