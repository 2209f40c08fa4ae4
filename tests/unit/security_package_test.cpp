// The security package against the test realm, with a server that speaks plain GSSAPI.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/security_package.h"
#include "ravlink/gss_server.h"
#include "support/realm.h"

namespace {

using namespace sspi;
using ravlink_tool::GssServer;

// Runs the client side of the exchange with the package over `wire` (used for its framing only).
Status establish(GssServer &wire, Handle *cred, Handle *ctx, const char *target) {
    Buffer outBuf{0, SECBUFFER_TOKEN, nullptr}, inBuf{0, SECBUFFER_TOKEN, nullptr};
    BufferDesc out{SECBUFFER_VERSION, 1, &outBuf}, in{SECBUFFER_VERSION, 1, &inBuf};
    std::string token;
    for (bool first = true;; first = false) {
        std::uint32_t attrs = 0;
        Status s = InitializeSecurityContextA(cred, first ? nullptr : ctx, target, 0x116, kNativeDataRep,
                                              first ? nullptr : &in, ctx, &out, &attrs);
        if (s != kSecOk && s != kSecContinueNeeded) return s;
        EXPECT_TRUE(outBuf.cbBuffer == 0 || wire.send_frame(outBuf.pvBuffer, outBuf.cbBuffer));
        FreeContextBuffer(outBuf.pvBuffer);
        outBuf = Buffer{0, SECBUFFER_TOKEN, nullptr};
        if (s == kSecOk) {
            EXPECT_EQ(attrs & 0x16, 0x16u);
            return s;
        }
        EXPECT_TRUE(wire.recv_frame(token));
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
    std::vector<std::pair<std::string, bool>> seen; // what the server unwrapped, and whether encrypted
    std::thread server([&, s = s] {
        GssServer srv(s, nullptr);
        ASSERT_TRUE(srv.accept_context()) << srv.error();
        EXPECT_EQ(srv.client(), "alice@" + testsupport::Realm::get().realm());
        std::string tok, plain;
        bool encrypted = false;
        for (int i = 0; i < 2 && srv.recv_frame(tok) && srv.unwrap(tok, plain, &encrypted); ++i)
            seen.emplace_back(plain, encrypted);
        for (bool encrypt : {true, false})
            ASSERT_TRUE(srv.wrap(encrypt ? "answer, encrypted" : "answer, signed", encrypt, tok) &&
                        srv.send_frame(tok.data(), tok.size()));
    });
    GssServer wire(c, nullptr);
    Handle cred, ctx;
    invalidate(cred);
    invalidate(ctx);
    ASSERT_EQ(AcquireCredentialsHandleA(nullptr, "Kerberos", kCredOutbound, nullptr, nullptr, &cred), kSecOk);
    ASSERT_EQ(establish(wire, &cred, &ctx, "sedrin/localhost"), kSecOk);
    Sizes sizes{};
    ASSERT_EQ(QueryContextSizes(&ctx, &sizes), kSecOk);
    EXPECT_EQ(sizes.cbMaxToken, 12000u);
    EXPECT_GT(sizes.cbSecurityTrailer, 0u);
    EXPECT_GE(sizes.cbBlockSize, 1u);

    // Encrypted and signed-only tokens both ways; only the signed text is readable on the wire.
    const std::string secret = "the plaintext travels encrypted", signed_text = "signed but readable";
    for (std::uint32_t qop : {0u, kQopWrapNoEncrypt}) {
        const std::string &text = qop ? signed_text : secret, token = encrypt(&ctx, sizes, text, qop);
        EXPECT_EQ(token.find(text) != std::string::npos, qop != 0);
        EXPECT_TRUE(wire.send_frame(token.data(), token.size()));
    }
    std::string token, plain;
    for (std::uint32_t want : {0u, kQopWrapNoEncrypt}) {
        std::uint32_t qop = 7;
        ASSERT_TRUE(wire.recv_frame(token));
        ASSERT_EQ(decrypt(&ctx, token, plain, &qop), kSecOk);
        EXPECT_EQ(plain, want ? "answer, signed" : "answer, encrypted");
        EXPECT_EQ(qop, want);
    }
    server.join();
    std::vector<std::pair<std::string, bool>> expected = {{secret, true}, {signed_text, false}};
    EXPECT_EQ(seen, expected);

    // A changed byte is refused.
    token = encrypt(&ctx, sizes, "x", 0);
    token[token.size() / 2] ^= 1;
    EXPECT_EQ(decrypt(&ctx, token, plain, nullptr), kSecMessageAltered);
    EXPECT_EQ(DeleteSecurityContext(&ctx), kSecOk);
    EXPECT_EQ(FreeCredentialsHandle(&cred), kSecOk);
    EXPECT_FALSE(handle_valid(ctx));
    testsupport::close_raw(c);
    testsupport::close_raw(s);
}

TEST(SecurityPackage, CredentialsOfAUserWithAPasswordAndOfTheNetworkService) {
    REQUIRE_REALM();
    auto &realm = testsupport::Realm::get();
    std::string user = realm.user(), pw = realm.password(), domain = "ravlink.test";
    AuthIdentity id{nullptr, 0, reinterpret_cast<unsigned char *>(&domain[0]), static_cast<std::uint32_t>(domain.size()),
                    reinterpret_cast<unsigned char *>(&pw[0]), static_cast<std::uint32_t>(pw.size()), kIdentityAnsi};
    Handle cred, ctx;
    invalidate(cred);
    invalidate(ctx);
    ASSERT_EQ(AcquireCredentialsHandleA(user.c_str(), "Kerberos", kCredOutbound, nullptr, &id, &cred), kSecOk);
    FreeCredentialsHandle(&cred);
    id.PasswordLength = 3; // a prefix of the password
    Status st = AcquireCredentialsHandleA(user.c_str(), "Kerberos", kCredOutbound, nullptr, &id, &cred);
    EXPECT_EQ(st, kSecLogonDenied);
    EXPECT_EQ(plat::system_message(st).rfind("The logon attempt failed (", 0), 0u) << plat::system_message(st);
    EXPECT_EQ(AcquireCredentialsHandleA(nullptr, "NTLM", kCredOutbound, nullptr, nullptr, &cred), kSecSecpkgNotFound);

    // Without tickets in the default cache the logged-on user has none; the network service uses
    // the client keytab.
    testsupport::set_env("KRB5CCNAME", "FILE:/nonexistent/ravlink-ccache");
    EXPECT_EQ(AcquireCredentialsHandleA(nullptr, "Kerberos", kCredOutbound, nullptr, nullptr, &cred), kSecNoCredentials);
    testsupport::set_env("KRB5_CLIENT_KTNAME", realm.vars["RAVLINK_REALM_CLIENT_KEYTAB"].c_str());
    st = AcquireCredentialsHandleA(nullptr, "Kerberos", kCredOutbound, &kNetworkServiceLogon, nullptr, &cred);
    testsupport::set_env("KRB5_CLIENT_KTNAME", nullptr);
    testsupport::set_env("KRB5CCNAME", realm.vars["KRB5CCNAME"].c_str());
    ASSERT_EQ(st, kSecOk);
    auto [c, s] = testsupport::socket_pair();
    std::string client;
    std::thread server([&, s = s] {
        GssServer srv(s, nullptr);
        EXPECT_TRUE(srv.accept_context()) << srv.error();
        client = srv.client();
    });
    GssServer wire(c, nullptr);
    EXPECT_EQ(establish(wire, &cred, &ctx, "sedrin"), kSecOk);
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
