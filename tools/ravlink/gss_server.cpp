// The server side of the Kerberos protocol over plain GSSAPI.
#ifndef _WIN32

#include "gss_server.h"

#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tool {

namespace {

std::string gss_text(OM_uint32 code, int type) {
    std::string out;
    OM_uint32 minor = 0, more = 0;
    do {
        gss_buffer_desc text{0, nullptr};
        if (GSS_ERROR(gss_display_status(&minor, code, type, GSS_C_NO_OID, &more, &text))) break;
        if (!out.empty()) out += "; ";
        out.append(static_cast<const char *>(text.value), text.length);
        gss_release_buffer(&minor, &text);
    } while (more != 0);
    return out;
}

} // namespace

GssServer::GssServer(int fd, const char *keytab) : fd_(fd), keytab_(keytab != nullptr ? keytab : "") {}

GssServer::~GssServer() {
    OM_uint32 minor = 0;
    if (ctx_ != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &ctx_, GSS_C_NO_BUFFER);
    if (cred_ != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &cred_);
}

bool GssServer::gss_failed(const char *what, OM_uint32 major, OM_uint32 minor) {
    error_ = std::string(what) + ": " + gss_text(major, GSS_C_GSS_CODE);
    if (minor != 0) error_ += " (" + gss_text(minor, GSS_C_MECH_CODE) + ")";
    return false;
}

bool GssServer::read_raw(void *data, std::size_t length) {
    auto *p = static_cast<unsigned char *>(data);
    while (length > 0) {
        ssize_t n = ::recv(fd_, p, length, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = n == 0 ? "connection closed by the client" : std::string("recv: ") + std::strerror(errno);
            return false;
        }
        p += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool GssServer::write_raw(const void *data, std::size_t length) {
    auto *p = static_cast<const unsigned char *>(data);
    while (length > 0) {
        ssize_t n = ::send(fd_, p, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = std::string("send: ") + std::strerror(errno);
            return false;
        }
        p += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool GssServer::read_preamble(int *level) {
    unsigned char p[5];
    if (!read_raw(p, sizeof p)) return false;
    if (p[0] != 0 || p[1] != 0 || p[2] != 0x7F || p[3] != 1) {
        error_ = "not the preamble of a Kerberos connection";
        return false;
    }
    *level = p[4];
    return true;
}

bool GssServer::recv_frame(std::string &token) {
    unsigned char len[4];
    if (!read_raw(len, sizeof len)) return false;
    std::uint32_t n = (std::uint32_t(len[0]) << 24) | (std::uint32_t(len[1]) << 16) | (std::uint32_t(len[2]) << 8) | len[3];
    if (n > 16u * 1024 * 1024) {
        error_ = "frame too large";
        return false;
    }
    token.resize(n);
    return n == 0 || read_raw(&token[0], n);
}

bool GssServer::send_frame(const void *data, std::size_t length) {
    unsigned char len[4] = {static_cast<unsigned char>(length >> 24), static_cast<unsigned char>(length >> 16),
                            static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length)};
    return write_raw(len, sizeof len) && (length == 0 || write_raw(data, length));
}

bool GssServer::accept_context() {
    OM_uint32 minor = 0, major;
    if (!keytab_.empty()) {
        gss_key_value_element_desc element{"keytab", keytab_.c_str()};
        gss_key_value_set_desc store{1, &element};
        major = gss_acquire_cred_from(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, GSS_C_NO_OID_SET, GSS_C_ACCEPT,
                                      &store, &cred_, nullptr, nullptr);
        if (GSS_ERROR(major)) return gss_failed("gss_acquire_cred_from", major, minor);
    }
    for (;;) {
        std::string in;
        if (!recv_frame(in)) return false;
        gss_buffer_desc input{in.size(), in.empty() ? nullptr : &in[0]};
        gss_buffer_desc output{0, nullptr};
        gss_name_t src = GSS_C_NO_NAME;
        major = gss_accept_sec_context(&minor, &ctx_, cred_, &input, GSS_C_NO_CHANNEL_BINDINGS, &src, nullptr,
                                       &output, nullptr, nullptr, nullptr);
        bool sent = true;
        if (output.length > 0) sent = send_frame(output.value, output.length);
        OM_uint32 ignored = 0;
        gss_release_buffer(&ignored, &output);
        if (GSS_ERROR(major)) {
            if (src != GSS_C_NO_NAME) gss_release_name(&ignored, &src);
            return gss_failed("gss_accept_sec_context", major, minor);
        }
        if (src != GSS_C_NO_NAME) {
            gss_buffer_desc name{0, nullptr};
            if (!GSS_ERROR(gss_display_name(&ignored, src, &name, nullptr))) {
                client_.assign(static_cast<const char *>(name.value), name.length);
                gss_release_buffer(&ignored, &name);
            }
            gss_release_name(&ignored, &src);
        }
        if (!sent) return false;
        if (!(major & GSS_S_CONTINUE_NEEDED)) return true;
    }
}

bool GssServer::unwrap(const std::string &token, std::string &plain, bool *encrypted) {
    OM_uint32 minor = 0;
    gss_buffer_desc in{token.size(), const_cast<char *>(token.data())};
    gss_buffer_desc out{0, nullptr};
    int conf = 0;
    OM_uint32 major = gss_unwrap(&minor, ctx_, &in, &out, &conf, nullptr);
    if (GSS_ERROR(major)) return gss_failed("gss_unwrap", major, minor);
    plain.assign(static_cast<const char *>(out.value), out.length);
    gss_release_buffer(&minor, &out);
    if (encrypted != nullptr) *encrypted = conf != 0;
    return true;
}

bool GssServer::wrap(const std::string &plain, bool encrypt, std::string &token) {
    OM_uint32 minor = 0;
    gss_buffer_desc in{plain.size(), const_cast<char *>(plain.data())};
    gss_buffer_desc out{0, nullptr};
    int conf = 0;
    OM_uint32 major = gss_wrap(&minor, ctx_, encrypt ? 1 : 0, GSS_C_QOP_DEFAULT, &in, &conf, &out);
    if (GSS_ERROR(major)) return gss_failed("gss_wrap", major, minor);
    token.assign(static_cast<const char *>(out.value), out.length);
    gss_release_buffer(&minor, &out);
    return true;
}

bool serve_kerberos_connection(int fd, int level, const char *keytab, bool verbose) {
    GssServer server(fd, keytab);
    int asked = 0;
    if (!server.read_preamble(&asked)) {
        std::fprintf(stderr, "serve: %s\n", server.error().c_str());
        return false;
    }
    if (asked < 1 || asked > 3 || (level != 0 && asked != level)) {
        std::fprintf(stderr, "serve: the client asked for level %d\n", asked);
        return false;
    }
    if (!server.accept_context()) {
        std::fprintf(stderr, "serve: %s\n", server.error().c_str());
        return false;
    }
    if (verbose) std::fprintf(stderr, "serve: level %d, client %s\n", asked, server.client().c_str());
    if (asked == 1) {
        char buf[16384];
        for (;;) {
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n == 0) return true;
            if (n < 0 || !server.write_raw(buf, static_cast<std::size_t>(n))) return false;
        }
    }
    std::string token, plain, answer;
    for (;;) {
        if (!server.recv_frame(token)) return server.error() == "connection closed by the client";
        bool encrypted = false;
        if (!server.unwrap(token, plain, &encrypted) || !server.wrap(plain, encrypted, answer) ||
            !server.send_frame(answer.data(), answer.size())) {
            std::fprintf(stderr, "serve: %s\n", server.error().c_str());
            return false;
        }
        if (verbose)
            std::fprintf(stderr, "serve: echoed %zu bytes (%s)\n", plain.size(), encrypted ? "encrypted" : "signed");
    }
}

} // namespace tool

#endif
