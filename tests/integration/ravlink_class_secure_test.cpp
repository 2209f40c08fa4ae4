// The Ravlink class at the secure levels, against real peers: a plain-GSSAPI server with the test
// realm's KDC (levels 2 and 3, by the logged-on user and by user and password) and a real
// OpenSSL server (level 11 through the record overload, level 10 by configuration name).
#include <gtest/gtest.h>

#ifndef _WIN32

#include <unistd.h>

#include <functional>
#include <string>
#include <thread>

#include "ravlink/gss_server.h"
#include "support/loopback.h"
#include "support/realm.h"
#include "support/tls_fixtures.h"

namespace {

const timeval kTimeout = {10, 0};

// A server on a loopback port that runs `body` on its first connection, in its own thread.
struct Server {
    testsupport::Listener listener;
    std::thread thread;
    explicit Server(std::function<void(int fd)> body) {
        thread = std::thread([this, body] {
            int fd = static_cast<int>(listener.accept_one());
            body(fd);
            ::close(fd);
        });
    }
    ~Server() { thread.join(); }
    std::string port() const { return listener.port_text(); }
};

std::string echo(Ravlink &r, const std::string &text) {
    std::string reply;
    if (r.Send(text, &kTimeout) != 1) return std::string("send failed: ") + RavlinkGetErrorString(nullptr);
    if (r.Receive(reply, text.size(), &kTimeout) != 0) return std::string("receive failed: ") + RavlinkGetErrorString(nullptr);
    return reply;
}

TEST(RavlinkClassKerberos, LevelSetBeforeConnectingIsTheOneAskedFor) {
    REQUIRE_REALM();
    // The server insists on level 3 in the preamble.
    Server server([](int fd) { EXPECT_EQ(ravlink_tool::serve_kerberos_connection(fd, 3, nullptr, false), 0); });
    Ravlink r(2, "sedrin/localhost");
    EXPECT_EQ(r.SetSecurityLevel(3), 3);
    ASSERT_EQ(r.ConnectToHostPort("127.0.0.1", server.port().c_str(), &kTimeout), 1) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(r.GetSecurityLevel(), 3);
    EXPECT_EQ(echo(r, "sealed"), "sealed");
}

TEST(RavlinkClassKerberos, DefaultObjectAsksForLevelThreeAndSedrin) {
    REQUIRE_REALM();
    // Only the keys of "sedrin" itself.
    std::string keytab = testsupport::Realm::get().value("RAVLINK_REALM_PASSWORD_FILE");
    keytab = keytab.substr(0, keytab.rfind('/')) + "/sedrin.keytab";
    Server server([&](int fd) { EXPECT_EQ(ravlink_tool::serve_kerberos_connection(fd, 3, keytab.c_str(), false), 0); });
    Ravlink r;
    ASSERT_EQ(r.ConnectToHostPort(std::string("127.0.0.1"), server.port(), &kTimeout), 1)
        << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(echo(r, "default"), "default");
}

TEST(RavlinkClassKerberos, LoginWithUserPasswordAndAuthority) {
    REQUIRE_REALM();
    auto &realm = testsupport::Realm::get();
    Server server([](int fd) { ravlink_tool::serve_kerberos_connection(fd, 2, nullptr, false); });
    Ravlink r(2, "sedrin/localhost");
    ASSERT_EQ(r.LoginAndConnectToHostPort("127.0.0.1", server.port(), &kTimeout, realm.user(), realm.password(),
                                          std::string("ravlink.test")),
              1)
        << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(r.GetSecurityLevel(), 2);
    EXPECT_EQ(echo(r, "signed"), "signed");
    // A level-2 connection switches to encryption and back.
    EXPECT_EQ(r.SetSecurityLevel(3), 3);
    EXPECT_EQ(r.SetSecurityLevel(2), 2);
    EXPECT_EQ(echo(r, "signed again"), "signed again");
}

TEST(RavlinkClassKerberos, WrongPasswordLeavesNoConnection) {
    REQUIRE_REALM();
    auto &realm = testsupport::Realm::get();
    testsupport::Listener listener; // never reached: the credentials fail first
    Ravlink r(3, "sedrin/localhost");
    EXPECT_EQ(r.LoginAndConnectToHostPort("127.0.0.1", listener.port_text(), &kTimeout, realm.user(),
                                          std::string("not the password")),
              0);
    EXPECT_NE(r.GetConnectionError(), 0xFFFFFFFFu);
    EXPECT_EQ(r.Send("x", 1, &kTimeout), 0);
}

TEST(RavlinkClassTls, RecordOverloadConnectsAtLevelElevenAndReportsZero) {
    if (testsupport::pki("").size() == 1) GTEST_SKIP() << "the test PKI could not be made";
    testsupport::Listener listener;
    testsupport::TlsTestServer server(listener, {}, testsupport::TlsTestServer::echo);
    testsupport::SslFields fields;
    fields.CAfile = testsupport::pki("ca.pem");
    fields.VerifyPeer = "1";
    RavlinkSSLconfig record = fields.record();
    Ravlink r(3); // the record overload connects at level 11 whatever the object's level
    ASSERT_EQ(r.ConnectToHostPort(std::string("127.0.0.1"), listener.port_text(), &kTimeout, record), 1)
        << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(r.GetSecurityLevel(), 0);
    EXPECT_EQ(echo(r, "over tls"), "over tls");
}

TEST(RavlinkClassTls, LevelTenByConfigurationNameReportsZero) {
    testsupport::Listener listener; // no handshake happens before the first send
    Ravlink r(10, "no-such-configuration");
    ASSERT_EQ(r.ConnectToHostPort("127.0.0.1", listener.port_text().c_str(), &kTimeout), 1)
        << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(r.GetSecurityLevel(), 0);
}

} // namespace

#endif
