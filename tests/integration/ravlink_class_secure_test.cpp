// The Ravlink class at the secure levels, against real peers: a plain-GSSAPI server with the test
// realm's KDC (level 3 by the logged-on user, level 2 by user and password) and a real OpenSSL
// server (level 11 through the record overload; level 10 by configuration name).
#include <gtest/gtest.h>

#ifndef _WIN32

#include <string>

#include "ravlink/gss_server.h"
#include "support/realm.h"
#include "support/tls_fixtures.h"

namespace {

const timeval kTimeout = {10, 0};

std::string echo(Ravlink &r, const std::string &text) {
    std::string reply;
    if (r.Send(text, &kTimeout) != 1) return std::string("send failed: ") + RavlinkGetErrorString(nullptr);
    if (r.Receive(reply, text.size(), &kTimeout) != 0) return std::string("receive failed: ") + RavlinkGetErrorString(nullptr);
    return reply;
}

TEST(RavlinkClassKerberos, DefaultObjectAsksForLevelThreeAndSedrin) {
    REQUIRE_REALM();
    std::string keytab = testsupport::Realm::get().sedrin_keytab(); // only the keys of "sedrin" itself
    testsupport::OneShotServer server(
        [&](int fd) { EXPECT_EQ(ravlink_tool::serve_kerberos_connection(fd, 3, keytab.c_str(), false), 0); });
    Ravlink r;
    ASSERT_EQ(r.ConnectToHostPort(std::string("127.0.0.1"), server.port(), &kTimeout), 1) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(echo(r, "default"), "default");
}

TEST(RavlinkClassKerberos, LoginWithUserPasswordAndAuthority) {
    REQUIRE_REALM();
    auto &realm = testsupport::Realm::get();
    testsupport::OneShotServer server([](int fd) { ravlink_tool::serve_kerberos_connection(fd, 2, nullptr, false); });
    Ravlink r(2, "sedrin/localhost");
    ASSERT_EQ(r.LoginAndConnectToHostPort("127.0.0.1", server.port(), &kTimeout, realm.user(), realm.password(),
                                          std::string("ravlink.test")), 1)
        << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(r.GetSecurityLevel(), 2);
    EXPECT_EQ(echo(r, "signed"), "signed");
    // A level-2 connection switches to encryption and back.
    EXPECT_EQ(r.SetSecurityLevel(3), 3);
    EXPECT_EQ(r.SetSecurityLevel(2), 2);
    EXPECT_EQ(echo(r, "signed again"), "signed again");
}

TEST(RavlinkClassTls, LevelsTenAndElevenReportZero) {
    testsupport::Listener quiet; // level 10 by configuration name: no handshake before the first send
    Ravlink ten(10, "no-such-configuration");
    ASSERT_EQ(ten.ConnectToHostPort("127.0.0.1", quiet.port_text().c_str(), &kTimeout), 1) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(ten.GetSecurityLevel(), 0);

    if (testsupport::pki("").size() == 1) GTEST_SKIP() << "the test PKI could not be made";
    testsupport::Listener listener;
    testsupport::TlsTestServer server(listener, {}, testsupport::TlsTestServer::echo);
    testsupport::SslFields fields;
    fields.CAfile = testsupport::pki("ca.pem");
    fields.VerifyPeer = "1";
    Ravlink r(3); // the record overload connects at level 11 whatever the object's level
    ASSERT_EQ(r.ConnectToHostPort(std::string("127.0.0.1"), listener.port_text(), &kTimeout, fields.record()), 1)
        << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(r.GetSecurityLevel(), 0);
    EXPECT_EQ(echo(r, "over tls"), "over tls");
}

} // namespace

#endif
