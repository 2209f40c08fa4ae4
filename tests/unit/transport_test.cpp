// The transport against real loopback peers: the socket library's use count, the resolver's
// attempts, the address walk of the TCP connect (with a resolver that hands out chosen address
// lists, since the system's has no name with the addresses these cases need), and read_all /
// write_all edge cases.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "api/context.h"
#include "diag/error_state.h"
#include "net/resolver.h"
#include "net/socket_io.h"
#include "net/socket_library.h"
#include "net/tcp_connect.h"
#include "platform/sockets.h"
#include "support/tcp_peer.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

using namespace testsupport;

TEST(SocketLibrary, StoppedOnlyAfterTheLastUse) {
    while (s_wsockcount() > 0) s_wsacleanup();
    unsigned before = plat::wsa_cleanup_calls();
    ASSERT_EQ(s_wsockstart(), 1);
    ASSERT_EQ(s_wsockstart(), 1);
    EXPECT_EQ(s_wsockcount(), 2u);
    s_wsacleanup();
    EXPECT_EQ(plat::wsa_cleanup_calls(), before);
    s_wsacleanup();
    EXPECT_EQ(plat::wsa_cleanup_calls(), before + 1);
    s_wsacleanup(); // one too many: nothing happens
    EXPECT_EQ(s_wsockcount(), 0u);
    EXPECT_EQ(plat::wsa_cleanup_calls(), before + 1);
}

TEST(SocketLibrary, EachConnectionHoldsAUseUntilClosed) {
    while (s_wsockcount() > 0) s_wsacleanup();
    TcpListener l;
    timeval tv = timeout_ms(2000);
    RavlinkContext *a = RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 0, nullptr);
    RavlinkContext *b = RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 0, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(s_wsockcount(), 2u);
    // A connect that fails before reaching the socket leaves the others' uses alone.
    EXPECT_EQ(RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 11, nullptr), nullptr);
    EXPECT_EQ(s_wsockcount(), 2u);
    RavlinkClose(a);
    EXPECT_EQ(s_wsockcount(), 1u);
    RavlinkClose(b);
    EXPECT_EQ(s_wsockcount(), 0u);
}

TEST(Resolver, NumericNamedAndFailingLookups) {
    addrinfo *list = s_getaddrinfo("127.0.0.1", "80", 0, 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(plat::last_socket_error(), 0);
    EXPECT_EQ(list->ai_family, AF_INET);
    s_freeaddrinfo(list);

    list = s_getaddrinfo("localhost", "80", 0, AI_CANONNAME);
    ASSERT_NE(list, nullptr);
    s_freeaddrinfo(list);

    list = s_getaddrinfo("::1", nullptr, AF_INET6, 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->ai_family, AF_INET6);
    s_freeaddrinfo(list);

    EXPECT_EQ(s_getaddrinfo("no-such-host.invalid", nullptr, 0, 0), nullptr);
    int code = plat::last_socket_error();
    EXPECT_TRUE(code == 11001 || code == 11002 || code == 11004) << code;

    char host[64];
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(s_getnameinfo(reinterpret_cast<sockaddr *>(&a), sizeof a, host, sizeof host, nullptr, 0,
                            NI_NUMERICHOST),
              0);
    EXPECT_STREQ(host, "127.0.0.1");
}

// ---- A resolver that answers "multi" with the addresses a test chooses ----

struct Entry {
    int family;
    int port;
};
std::vector<Entry> g_entries;
std::vector<std::string> g_asked;
int g_localPort = 0; // the one address of "local"

struct Node {
    addrinfo info;
    sockaddr_storage address;
};

int chosen_getaddrinfo(const char *node, const char *service, const addrinfo *hints, addrinfo **result) {
    g_asked.push_back(node != nullptr ? node : "");
    if (node == nullptr || (hints->ai_flags & AI_NUMERICHOST) != 0) return 11001;
    std::vector<Entry> entries;
    if (std::strcmp(node, "multi") == 0)
        entries = g_entries;
    else if (std::strcmp(node, "local") == 0)
        entries = {{AF_INET, g_localPort}};
    else
        return 11001;
    addrinfo *head = nullptr, **tail = &head;
    for (const Entry &e : entries) {
        auto *n = static_cast<Node *>(std::calloc(1, sizeof(Node)));
        n->info.ai_family = e.family;
        n->info.ai_socktype = SOCK_STREAM;
        n->info.ai_addr = reinterpret_cast<sockaddr *>(&n->address);
        if (e.family == AF_INET6) {
            auto *a = reinterpret_cast<sockaddr_in6 *>(&n->address);
            a->sin6_family = AF_INET6;
            a->sin6_addr = in6addr_loopback;
            a->sin6_port = htons(static_cast<unsigned short>(e.port));
            n->info.ai_addrlen = sizeof *a;
        } else {
            auto *a = reinterpret_cast<sockaddr_in *>(&n->address);
            a->sin_family = AF_INET;
            a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a->sin_port = htons(static_cast<unsigned short>(e.port));
            n->info.ai_addrlen = sizeof *a;
        }
        *tail = &n->info;
        tail = &n->info.ai_next;
    }
    (void)service;
    *result = head;
    return 0;
}

void chosen_freeaddrinfo(addrinfo *list) {
    while (list != nullptr) {
        addrinfo *next = list->ai_next;
        std::free(list); // the addrinfo is the first member of its Node
        list = next;
    }
}

class AddressWalk : public ::testing::Test {
protected:
    void SetUp() override {
        g_entries.clear();
        g_asked.clear();
        s_rebindResolver(chosen_getaddrinfo, chosen_freeaddrinfo);
    }
    void TearDown() override { s_rebindResolver(nullptr, nullptr); }
};

// A listener whose accept queue is full: further connects get no answer.
struct Silent {
    TcpListener listener;
    ravlink_socket_t filler = RAVLINK_INVALID_SOCKET;
    explicit Silent(int family = AF_INET) : listener(family, 0) {
        filler = ::socket(family, SOCK_STREAM, 0);
        sockaddr_storage a{};
        socklen_t n = sizeof a;
        ::getsockname(listener.fd, reinterpret_cast<sockaddr *>(&a), &n);
        ::connect(filler, reinterpret_cast<sockaddr *>(&a), n);
    }
    ~Silent() { close_raw(filler); }
};

TEST_F(AddressWalk, IPv4IsTriedBeforeIPv6WhateverTheOrder) {
    TcpListener v4(AF_INET), v6(AF_INET6);
    ASSERT_TRUE(v6.ok()) << "no IPv6 loopback";
    g_entries = {{AF_INET6, v6.port}, {AF_INET, v4.port}};
    timeval tv = timeout_ms(2000);
    plat::socket_t s = s_tcpconnect("multi", "0", &tv);
    ASSERT_NE(s, plat::kInvalidSocket) << RavlinkGetErrorString(nullptr);
    ravlink_socket_t accepted = v4.accept_one();
    EXPECT_EQ(peer_port(accepted), local_port(s));
    close_raw(accepted);
    plat::close_socket(s);
    s_wsacleanup();
    // Resolved numerically first, then as a name.
    ASSERT_EQ(g_asked.size(), 2u);
}

TEST_F(AddressWalk, EachSilentAddressGetsTheWholeTimeOut) {
    Silent a, b;
    g_entries = {{AF_INET, a.listener.port}, {AF_INET, b.listener.port}};
    timeval tv = timeout_ms(1000);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(s_tcpconnect("multi", "0", &tv), plat::kInvalidSocket);
    double took = seconds_since(start);
    EXPECT_GT(took, 1.9);
    EXPECT_LT(took, 3.5);
    EXPECT_STREQ(RavlinkGetErrorString(nullptr), "TCP connect() timed out.");
    EXPECT_EQ(dwConnectionError, 0u);
    s_wsacleanup();
}

TEST_F(AddressWalk, FailureOnTheFirstAddressIsForgottenOnSuccess) {
    TcpListener v6(AF_INET6);
    ASSERT_TRUE(v6.ok()) << "no IPv6 loopback";
    std::string refused = closed_port();
    g_entries = {{AF_INET6, v6.port}, {AF_INET, std::stoi(refused)}};
    timeval tv = timeout_ms(2000);
    plat::socket_t s = s_tcpconnect("multi", "0", &tv);
    ASSERT_NE(s, plat::kInvalidSocket) << RavlinkGetErrorString(nullptr);
    EXPECT_STREQ(RavlinkGetErrorString(nullptr), "");
    EXPECT_EQ(dwConnectionError, 0u);
    plat::close_socket(s);
    s_wsacleanup();
}

TEST_F(AddressWalk, LocalBindingIsConsumedByTheFirstSocketEvenWhenItFails) {
    TcpListener good;
    std::string refused = closed_port();
    g_localPort = std::stoi(closed_port());
    g_entries = {{AF_INET, std::stoi(refused)}, {AF_INET, good.port}};
    ASSERT_EQ(RavlinkSetLocalBindings("local", nullptr), 1);
    timeval tv = timeout_ms(2000);
    plat::socket_t s = s_tcpconnect("multi", "0", &tv);
    ASSERT_NE(s, plat::kInvalidSocket) << RavlinkGetErrorString(nullptr);
    EXPECT_NE(local_port(s), g_localPort); // the second socket was not bound
    int binds = 0;
    for (auto &name : g_asked) binds += name == "local";
    EXPECT_EQ(binds, 1);
    plat::close_socket(s);
    s_wsacleanup();
}

// ---- read_all / write_all on a context over a socket pair ----

struct Pair {
    RavlinkContext *pc;
    ravlink_socket_t server;
    Pair() {
        auto p = socket_pair();
        pc = s_allocContext();
        pc->socket = p.first;
        plat::set_nonblocking(pc->socket, true);
        server = p.second;
    }
    ~Pair() {
        plat::close_socket(pc->socket);
        pc->socket = plat::kInvalidSocket;
        std::free(pc->errorText);
        std::free(pc);
        close_raw(server);
    }
};

TEST(SocketIo, ZeroLengthsReturnAtOnce) {
    Pair p;
    unsigned char b[1];
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read_all(p.pc, b, 0, 0), 0);
    EXPECT_EQ(write_all(p.pc, b, 0), 0);
    EXPECT_LT(seconds_since(start), 0.1);
}

TEST(SocketIo, PartialReadReturnsTheFirstReceive) {
    Pair p;
    send_raw(p.server, "hello");
    unsigned char b[64];
    timeval tv = timeout_ms(2000);
    s_installTimeout(p.pc, &tv);
    EXPECT_EQ(read_all(p.pc, b, sizeof b, 1), 5);
}

TEST(SocketIo, HugeTimeOutWaitsLikeNone) {
    Pair p;
    send_raw(p.server, "x");
    unsigned char b[1];
    timeval tv{};
    tv.tv_sec = std::numeric_limits<decltype(tv.tv_sec)>::max();
    s_installTimeout(p.pc, &tv);
    EXPECT_EQ(read_all(p.pc, b, 1, 0), 1);
}

TEST(SocketIo, TimeOutForgetsBytesOfEarlierPasses) {
    Pair p;
    send_raw(p.server, "abc");
    unsigned char b[10];
    timeval tv = timeout_ms(200);
    s_installTimeout(p.pc, &tv);
    EXPECT_EQ(read_all(p.pc, b, sizeof b, 0), 0);
    EXPECT_EQ(p.pc->error, 0u);
}

TEST(SocketIo, RemoteCloseReportsWhatArrived) {
    Pair p;
    send_raw(p.server, std::string(10, 'r'));
    close_raw(p.server);
    p.server = ::socket(AF_INET, SOCK_STREAM, 0); // something for the destructor to close
    unsigned char b[20];
    s_setCurrentConnection(p.pc);
    EXPECT_EQ(read_all(p.pc, b, sizeof b, 0), 10);
    EXPECT_EQ(p.pc->error, 10053u);
    s_setCurrentConnection(nullptr);
}

#ifndef _WIN32
TEST(SocketIo, DescriptorsAbove1024AreWaitedFor) {
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    if (lim.rlim_cur < 1200) GTEST_SKIP() << "the open-file limit is below 1200";
    Pair p;
    int high = fcntl(p.pc->socket, F_DUPFD_CLOEXEC, 1100);
    ASSERT_GE(high, 1100);
    ::close(p.pc->socket);
    p.pc->socket = high;
    send_raw(p.server, "late");
    unsigned char b[4];
    timeval tv = timeout_ms(2000);
    s_installTimeout(p.pc, &tv);
    EXPECT_EQ(read_all(p.pc, b, 4, 0), 4);
    EXPECT_EQ(write_all(p.pc, b, 4), 4);
    EXPECT_EQ(recv_raw(p.server, 4), "late");
    tv = timeout_ms(100);
    EXPECT_EQ(read_all(p.pc, b, 4, 0), 0); // and the time-out still holds
}
#endif

} // namespace
