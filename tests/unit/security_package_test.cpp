// The security package's credentials against the test realm, with a server that speaks plain
// GSSAPI. Message protection is tested end to end with the library's Kerberos levels.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <string>
#include <thread>

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
    Sizes sizes{};
    EXPECT_EQ(QueryContextSizes(&ctx, &sizes), kSecOk);
    EXPECT_EQ(sizes.cbMaxToken, 12000u);
    EXPECT_EQ(DeleteSecurityContext(&ctx), kSecOk);
    EXPECT_FALSE(handle_valid(ctx));
    EXPECT_EQ(FreeCredentialsHandle(&cred), kSecOk);
    testsupport::close_raw(c);
    testsupport::close_raw(s);
}

} // namespace

#else

TEST(SecurityPackage, Skipped) {
    GTEST_SKIP() << "Wine's SSPI does not accept the identity form this library uses; no Kerberos under Wine";
}

#endif
