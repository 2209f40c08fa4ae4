// The Ravlink class against real peers on loopback: plain connections, copies that share one
// connection, reconnects, the level it asks for, its string members, and the TLS levels.
#include <gtest/gtest.h>

#include <regex>
#include <type_traits>

#include "support/tls_fixtures.h"

namespace {

// An echo peer that notes when its client has closed.
struct EchoPeer {
    std::atomic<bool> closed{false};
    testsupport::Service service{[this](ravlink_socket_t s) {
        testsupport::echo_and_collect(s);
        closed = true;
    }};
    std::string port() const { return service.port_text(); }
    // Whether the client closed its end, waiting up to 20 seconds for it.
    bool saw_close() {
        for (int i = 0; i < 2000 && !closed; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return closed;
    }
};

const timeval kTimeout = {5, 0};

std::string echo(Ravlink &r, const std::string &text) {
    std::string reply;
    if (r.Send(text, &kTimeout) != 1) return "send failed";
    if (r.Receive(reply, text.size(), &kTimeout) != 0) return "receive failed";
    return reply;
}

TEST(RavlinkClass, WithoutAConnectionAndWhatAConnectAsksFor) {
    Ravlink two(2);
    EXPECT_EQ(two.GetRdlen(), 0);
    static_assert(std::is_same<decltype(two.SetMode(0)), int32_t>::value, "members return int32_t");
    EXPECT_EQ(two.SetMode(RAVLINK_VREAD), 0);
    size_t len = 8;
    char name[8];
    EXPECT_EQ(two.GetTSClientName(name, &len), 0);
    EXPECT_EQ(len, 0u);
    // The connection error is then the library-wide code, all ones while that is zero.
    dwConnectionError = 0;
    EXPECT_EQ(two.GetConnectionError(), 0xFFFFFFFFu);
    dwConnectionError = 10061;
    EXPECT_EQ(two.GetConnectionError(), 10061u);
    dwConnectionError = 0;

    // A connect asks for the object's level, set before, and its principal.
    testsupport::Listener listener; // the connect fails at the security step; only the request counts
    testsupport::TraceCapture trace;
    Ravlink r(2, "dbsvc/build7.example.lan");
    r.SetSecurityLevel(3);
    timeval quick = {0, 300000};
    r.ConnectToHostPort("127.0.0.1", listener.port_text(), &quick);
    std::regex request("RavlinkToHostPort\\(127\\.0\\.0\\.1," + listener.port_text() + ",[^,]*,3,dbsvc/build7\\.example\\.lan\\)");
    EXPECT_TRUE(std::regex_search(trace.all(), request)) << trace.all();
    Ravlink().ConnectToHostPort("127.0.0.1", listener.port_text(), &quick); // by default level 3 and "sedrin"
    EXPECT_TRUE(std::regex_search(trace.all(), std::regex(",[0-9a-f]+,3,sedrin\\)"))) << trace.all();

    // Level 11 needs a record: the members without one refuse it.
    Ravlink eleven(11);
    const std::string port = listener.port_text();
    EXPECT_EQ(eleven.ConnectToHostPort("127.0.0.1", port.c_str(), &kTimeout), 0);
    EXPECT_STREQ(RavlinkGetErrorString(nullptr), "Security level 11 needs a RavlinkSSLconfig record.");
    EXPECT_EQ(eleven.LoginAndConnectToHostPort("127.0.0.1", port, &kTimeout, std::string("u"), std::string("p")), 0);
    EXPECT_STREQ(RavlinkGetErrorString(nullptr), "Security level 11 needs a RavlinkSSLconfig record.");
    EXPECT_EQ(eleven.ConnectToHostPort("127.0.0.1", port.c_str(), &kTimeout, static_cast<const RavlinkSSLconfig *>(nullptr)), 0);
}

TEST(RavlinkClass, PlainConnectionsTheirCopiesAndReconnects) {
    EchoPeer one, two;
    auto *first = new Ravlink(0, "svc");
    ASSERT_EQ(first->ConnectToHostPort(std::string("127.0.0.1"), one.port(), &kTimeout), 1) << RavlinkGetErrorString(nullptr);
    Ravlink &r = *first;
    EXPECT_EQ(r.GetSecurityLevel(), 0);
    EXPECT_EQ(r.GetConnectionError(), 0u);
    EXPECT_EQ(echo(r, "hello"), "hello");
    EXPECT_EQ(r.Send(std::string(), &kTimeout), 1);
    // Receive into a string gives it exactly the length asked for.
    std::string text(10, 'x');
    ASSERT_EQ(r.Send("abcd" + std::string(20, 'y'), &kTimeout), 1);
    EXPECT_EQ(r.Receive(text, 4, &kTimeout), 0);
    EXPECT_EQ(text, "abcd");
    text = "short";
    EXPECT_EQ(r.Receive(text, 20, &kTimeout), 0);
    EXPECT_EQ(text, std::string(20, 'y'));
    // VREAD: the string keeps its size; GetRdlen tells what arrived.
    EXPECT_EQ(r.SetMode(RAVLINK_VREAD), 0);
    ASSERT_EQ(r.Send("xyz", 3, &kTimeout), 1);
    EXPECT_EQ(r.Receive(text, 10, &kTimeout), 0);
    EXPECT_EQ(text.size(), 10u);
    EXPECT_EQ(r.GetRdlen(), 3);
    EXPECT_EQ(text.substr(0, 3), "xyz");
    EXPECT_EQ(r.SetMode(RAVLINK_FREAD), 1);

    // Copies share the connection; the last holder closes it.
    auto *copy = new Ravlink(*first);
    Ravlink assigned;
    assigned = *first;
    assigned = assigned;
    EXPECT_EQ(assigned.GetSecurityLevel(), 0);
    delete first;
    EXPECT_EQ(echo(*copy, "still open"), "still open");
    // A second connect lets go of the first connection, which a copy still holds.
    ASSERT_EQ(copy->ConnectToHostPort("127.0.0.1", two.port().c_str(), &kTimeout), 1);
    EXPECT_EQ(echo(*copy, "two"), "two");
    EXPECT_EQ(echo(assigned, "one"), "one");
    EXPECT_FALSE(one.closed.load());
    assigned = *copy; // the last holder of the first connection lets go
    EXPECT_TRUE(one.saw_close());
    delete copy;
    EXPECT_EQ(echo(assigned, "two again"), "two again");

    // A failed connect leaves the object without a connection.
    std::string refused = testsupport::Listener().port_text();
    EXPECT_EQ(assigned.ConnectToHostPort("127.0.0.1", refused.c_str(), &kTimeout), 0);
    EXPECT_TRUE(two.saw_close());
    EXPECT_EQ(assigned.Send("x", 1, &kTimeout), 0);
    char byte;
    EXPECT_EQ(assigned.Receive(&byte, 1, &kTimeout), -1);
    EXPECT_NE(assigned.GetConnectionError(), 0xFFFFFFFFu);
}

TEST(RavlinkClass, TlsLevelsTenAndElevenReportZero) {
    testsupport::Listener quiet; // level 10 by configuration name: no handshake before the first send
    Ravlink ten(10, "no-such-configuration");
    ASSERT_EQ(ten.ConnectToHostPort("127.0.0.1", quiet.port_text().c_str(), &kTimeout), 1) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(ten.GetSecurityLevel(), 0);

    testsupport::TlsPeer peer(testsupport::TlsPeer::Echo);
    REQUIRE_TLS_PEER(peer);
    testsupport::SslFields fields = testsupport::trusting();
    fields.VerifyPeer = "1";
    Ravlink r(3); // the record overload connects at level 11 whatever the object's level
    ASSERT_EQ(r.ConnectToHostPort(std::string("127.0.0.1"), peer.port(), &kTimeout, fields.record()), 1)
        << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(r.GetSecurityLevel(), 0);
    EXPECT_EQ(echo(r, "over tls"), "over tls");
}

} // namespace
