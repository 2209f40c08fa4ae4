// The security package against the test realm, with a server that speaks plain GSSAPI.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/security_package.h"
#include "ravlink/gss_server.h"
#include "support/loopback.h"
#include "support/realm.h"

namespace {

using namespace sspi;
using ravlink_tool::GssServer;

void send_frame(int fd, const void *data, std::uint32_t n) {
    unsigned char len[4] = {static_cast<unsigned char>(n >> 24), static_cast<unsigned char>(n >> 16),
                            static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)};
    ASSERT_EQ(::send(fd, len, 4, 0), 4);
    if (n > 0) {
        ASSERT_EQ(::send(fd, data, n, 0), static_cast<ssize_t>(n));
    }
}

std::string recv_frame(int fd) {
    unsigned char len[4];
    if (::recv(fd, len, 4, MSG_WAITALL) != 4) return std::string();
    std::uint32_t n = (std::uint32_t(len[0]) << 24) | (len[1] << 16) | (len[2] << 8) | len[3];
    std::string token(n, '\0');
    if (n > 0 && ::recv(fd, &token[0], n, MSG_WAITALL) != static_cast<ssize_t>(n)) return std::string();
    return token;
}

// Runs the client side of the exchange with the package; the server thread accepts.
Status establish(int fd, Handle *cred, Handle *ctx, const char *target) {
    Buffer outBuf{0, SECBUFFER_TOKEN, nullptr}, inBuf{0, SECBUFFER_TOKEN, nullptr};
    BufferDesc out{SECBUFFER_VERSION, 1, &outBuf}, in{SECBUFFER_VERSION, 1, &inBuf};
    std::string token;
    bool first = true;
    for (;;) {
        std::uint32_t attrs = 0;
        Status s = InitializeSecurityContextA(cred, first ? nullptr : ctx, target, 0x116, kNativeDataRep,
                                              first ? nullptr : &in, ctx, &out, &attrs);
        first = false;
        if (s != kSecOk && s != kSecContinueNeeded) return s;
        if (outBuf.cbBuffer > 0) send_frame(fd, outBuf.pvBuffer, outBuf.cbBuffer);
        FreeContextBuffer(outBuf.pvBuffer);
        outBuf = Buffer{0, SECBUFFER_TOKEN, nullptr};
        if (s == kSecOk) {
            EXPECT_EQ(attrs & 0x16, 0x16u);
            return s;
        }
        token = recv_frame(fd);
        inBuf = Buffer{static_cast<std::uint32_t>(token.size()), SECBUFFER_TOKEN, &token[0]};
    }
}

std::string encrypt(Handle *ctx, const Sizes &sizes, const std::string &plain, std::uint32_t qop) {
    std::vector<unsigned char> trailer(sizes.cbSecurityTrailer), padding(sizes.cbBlockSize);
    std::string data = plain;
    Buffer b[3] = {{sizes.cbSecurityTrailer, SECBUFFER_TOKEN, trailer.data()},
                   {static_cast<std::uint32_t>(data.size()), SECBUFFER_DATA, &data[0]},
                   {sizes.cbBlockSize, SECBUFFER_PADDING, padding.data()}};
    BufferDesc desc{SECBUFFER_VERSION, 3, b};
    EXPECT_EQ(EncryptMessage(ctx, qop, &desc, 0), kSecOk);
    return std::string(reinterpret_cast<char *>(trailer.data()), b[0].cbBuffer) + data +
           std::string(reinterpret_cast<char *>(padding.data()), b[2].cbBuffer);
}

Status decrypt(Handle *ctx, std::string &token, std::string &plain, std::uint32_t *qop) {
    Buffer b[2] = {{static_cast<std::uint32_t>(token.size()), SECBUFFER_STREAM, &token[0]}, {0, SECBUFFER_DATA, nullptr}};
    BufferDesc desc{SECBUFFER_VERSION, 2, b};
    Status s = DecryptMessage(ctx, &desc, 0, qop);
    if (s == kSecOk) {
        EXPECT_GE(static_cast<char *>(b[1].pvBuffer), &token[0]); // in place
        plain.assign(static_cast<char *>(b[1].pvBuffer), b[1].cbBuffer);
    }
    return s;
}

TEST(SecurityPackage, TokensInteroperateWithPlainGssWrapAndUnwrap) {
    REQUIRE_REALM();
    auto [c, s] = testsupport::socket_pair();
    std::string seen_plain, seen_plain2;
    bool seen_enc = false, seen_enc2 = true;
    std::thread server([&, s = s] {
        GssServer srv(s, nullptr);
        ASSERT_TRUE(srv.accept_context()) << srv.error();
        EXPECT_EQ(srv.client(), "alice@" + testsupport::Realm::get().realm());
        std::string tok, answer;
        ASSERT_TRUE(srv.recv_frame(tok));
        ASSERT_TRUE(srv.unwrap(tok, seen_plain, &seen_enc)) << srv.error();
        ASSERT_TRUE(srv.recv_frame(tok));
        ASSERT_TRUE(srv.unwrap(tok, seen_plain2, &seen_enc2)) << srv.error();
        ASSERT_TRUE(srv.wrap("answer, encrypted", true, answer));
        ASSERT_TRUE(srv.send_frame(answer.data(), answer.size()));
        ASSERT_TRUE(srv.wrap("answer, signed", false, answer));
        ASSERT_TRUE(srv.send_frame(answer.data(), answer.size()));
    });
    Handle cred, ctx;
    invalidate(cred);
    invalidate(ctx);
    ASSERT_EQ(AcquireCredentialsHandleA(nullptr, "Kerberos", kCredOutbound, nullptr, nullptr, &cred), kSecOk);
    ASSERT_EQ(establish(c, &cred, &ctx, "sedrin/localhost"), kSecOk);
    Sizes sizes{};
    ASSERT_EQ(QueryContextSizes(&ctx, &sizes), kSecOk);
    EXPECT_EQ(sizes.cbMaxToken, 12000u);
    EXPECT_GT(sizes.cbSecurityTrailer, 0u);
    EXPECT_GE(sizes.cbBlockSize, 1u);

    std::string secret = "the plaintext travels encrypted";
    std::string token = encrypt(&ctx, sizes, secret, 0);
    EXPECT_EQ(token.find(secret), std::string::npos);
    send_frame(c, token.data(), static_cast<std::uint32_t>(token.size()));
    std::string signed_text = "signed but readable";
    token = encrypt(&ctx, sizes, signed_text, kQopWrapNoEncrypt);
    EXPECT_NE(token.find(signed_text), std::string::npos);
    send_frame(c, token.data(), static_cast<std::uint32_t>(token.size()));

    std::string plain;
    std::uint32_t qop = 7;
    token = recv_frame(c);
    ASSERT_EQ(decrypt(&ctx, token, plain, &qop), kSecOk);
    EXPECT_EQ(plain, "answer, encrypted");
    EXPECT_EQ(qop, 0u);
    token = recv_frame(c);
    ASSERT_EQ(decrypt(&ctx, token, plain, &qop), kSecOk);
    EXPECT_EQ(plain, "answer, signed");
    EXPECT_EQ(qop, kQopWrapNoEncrypt);
    server.join();
    EXPECT_EQ(seen_plain, secret);
    EXPECT_TRUE(seen_enc);
    EXPECT_EQ(seen_plain2, signed_text);
    EXPECT_FALSE(seen_enc2);

    // A changed byte or a replayed token is refused.
    token = encrypt(&ctx, sizes, "x", 0);
    std::string copy = token;
    token[token.size() / 2] ^= 1;
    EXPECT_EQ(decrypt(&ctx, token, plain, nullptr), kSecMessageAltered);
    EXPECT_EQ(DeleteSecurityContext(&ctx), kSecOk);
    EXPECT_EQ(FreeCredentialsHandle(&cred), kSecOk);
    EXPECT_FALSE(handle_valid(ctx));
    testsupport::close_raw(c);
    testsupport::close_raw(s);
}

TEST(SecurityPackage, PasswordCredentialsAndTheirFailures) {
    REQUIRE_REALM();
    auto &realm = testsupport::Realm::get();
    std::string user = realm.user(), pw = realm.password(), domain = "ravlink.test";
    AuthIdentity id{nullptr, 0, reinterpret_cast<unsigned char *>(&domain[0]), static_cast<std::uint32_t>(domain.size()),
                    reinterpret_cast<unsigned char *>(&pw[0]), static_cast<std::uint32_t>(pw.size()),
                    kIdentityAnsi};
    Handle cred;
    invalidate(cred);
    ASSERT_EQ(AcquireCredentialsHandleA(user.c_str(), "Kerberos", kCredOutbound, nullptr, &id, &cred), kSecOk);
    FreeCredentialsHandle(&cred);

    std::string wrong = "not-the-password";
    id.Password = reinterpret_cast<unsigned char *>(&wrong[0]);
    id.PasswordLength = static_cast<std::uint32_t>(wrong.size());
    Status st = AcquireCredentialsHandleA(user.c_str(), "Kerberos", kCredOutbound, nullptr, &id, &cred);
    EXPECT_EQ(st, kSecLogonDenied);
    std::string reason = plat::system_message(st);
    EXPECT_EQ(reason.rfind("The logon attempt failed (", 0), 0u) << reason;

    EXPECT_EQ(AcquireCredentialsHandleA(nullptr, "NTLM", kCredOutbound, nullptr, nullptr, &cred),
              kSecSecpkgNotFound);
}

TEST(SecurityPackage, NetworkServiceUsesTheClientKeytab) {
    REQUIRE_REALM();
    auto &realm = testsupport::Realm::get();
    Handle cred;
    invalidate(cred);
    realm.set_ccache("FILE:/nonexistent/ravlink-ccache");
    EXPECT_EQ(AcquireCredentialsHandleA(nullptr, "Kerberos", kCredOutbound, nullptr, nullptr, &cred),
              kSecNoCredentials);
    testsupport::set_env("KRB5_CLIENT_KTNAME", realm.value("RAVLINK_REALM_CLIENT_KEYTAB").c_str());
    Status st = AcquireCredentialsHandleA(nullptr, "Kerberos", kCredOutbound, &kNetworkServiceLogon, nullptr, &cred);
    testsupport::set_env("KRB5_CLIENT_KTNAME", nullptr);
    realm.set_ccache(realm.ccache());
    ASSERT_EQ(st, kSecOk);
    auto [c, s] = testsupport::socket_pair();
    std::string client;
    std::thread server([&, s = s] {
        GssServer srv(s, nullptr);
        EXPECT_TRUE(srv.accept_context()) << srv.error();
        client = srv.client();
    });
    Handle ctx;
    invalidate(ctx);
    EXPECT_EQ(establish(c, &cred, &ctx, "sedrin"), kSecOk);
    server.join();
    EXPECT_EQ(client, "host/ravlink-client@" + realm.realm());
    DeleteSecurityContext(&ctx);
    FreeCredentialsHandle(&cred);
    testsupport::close_raw(c);
    testsupport::close_raw(s);
}

} // namespace

#else

TEST(SecurityPackage, Skipped) {
    GTEST_SKIP() << "Wine's SSPI does not accept the identity form this library uses; no Kerberos under Wine";
}

#endif
