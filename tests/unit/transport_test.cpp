// The transport against real loopback peers: the socket library's use count, the address walk
// of the TCP connect (with a resolver that hands out chosen address lists, since the system's has
// no name with the addresses these cases need), read_all / write_all edge cases, and on POSIX the
// Winsock numbers that socket errors become.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/context.h"
#include "diag/error_state.h"
#include "net/resolver.h"
#include "net/socket_io.h"
#include "net/socket_library.h"
#include "net/tcp_connect.h"
#include "platform/sockets.h"
#include "support/loopback.h"

#ifndef _WIN32
#include <fcntl.h>
#include <netdb.h>
#include <sys/resource.h>

#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/socket_errors.h"
#endif

namespace {

using namespace testsupport;

TEST(SocketLibrary, StoppedOnlyAfterTheLastConnectionIsClosed) {
    while (s_wsockcount() > 0) s_wsacleanup();
    unsigned before = plat::wsa_cleanup_calls();
    Listener l;
    timeval tv = timeout_ms(2000);
    RavlinkContext *a = RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 0, nullptr);
    RavlinkContext *b = RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 0, nullptr);
    ASSERT_TRUE(a != nullptr && b != nullptr);
    // A connect that fails before reaching the socket, and a context around the caller's socket,
    // hold no use: closing them leaves the others' uses alone.
    EXPECT_EQ(RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 11, nullptr), nullptr);
    auto [mine, peer] = socket_pair();
    EXPECT_EQ(RavlinkClose(RavlinkInitContext(mine, nullptr, 0, nullptr, nullptr, nullptr, nullptr)), 1);
    close_raw(peer);
    EXPECT_EQ(s_wsockcount(), 2u);
    RavlinkClose(a);
    EXPECT_EQ(s_wsockcount(), 1u);
    EXPECT_EQ(plat::wsa_cleanup_calls(), before);
    RavlinkClose(b);
    s_wsacleanup(); // one too many: nothing happens
    EXPECT_EQ(s_wsockcount(), 0u);
    EXPECT_EQ(plat::wsa_cleanup_calls(), before + 1);
}

// ---- A resolver that answers "multi" and other names with the loopback addresses a test chooses ----

struct Entry {
    int family, port;
};
std::vector<Entry> g_multi, g_local;
std::vector<std::string> g_asked;

struct Node {
    addrinfo info;
    sockaddr_storage address;
};

int chosen_getaddrinfo(const char *node, const char *, const addrinfo *hints, addrinfo **result) {
    g_asked.push_back(node != nullptr ? node : "");
    if (node == nullptr || (hints->ai_flags & AI_NUMERICHOST) != 0) return 11001;
    addrinfo *head = nullptr, **tail = &head;
    for (const Entry &e : std::strcmp(node, "multi") == 0 ? g_multi : g_local) {
        auto *n = static_cast<Node *>(std::calloc(1, sizeof(Node)));
        n->info.ai_family = e.family;
        n->info.ai_socktype = SOCK_STREAM;
        n->info.ai_addr = reinterpret_cast<sockaddr *>(&n->address);
        n->info.ai_addrlen = loopback_address(e.family, e.port, n->address);
        *tail = &n->info;
        tail = &n->info.ai_next;
    }
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

// Routes the library's resolver to the chosen lists while it lives.
struct ChosenResolver {
    ChosenResolver() { s_rebindResolver(chosen_getaddrinfo, chosen_freeaddrinfo); }
    ~ChosenResolver() { s_rebindResolver(nullptr, nullptr); }
};

// Connects to "multi"; the use of the socket library each connect takes is given back at once.
plat::socket_t connect_multi(long ms) {
    g_asked.clear();
    timeval tv = timeout_ms(ms);
    bool tookUse = false;
    plat::socket_t s = s_tcpconnect("multi", "0", &tv, &tookUse);
    if (tookUse) s_wsacleanup();
    return s;
}

// A listener whose accept queue is full: further connects get no answer.
struct Silent {
    Listener listener{AF_INET, 0};
    ravlink_socket_t filler = connect_raw(listener.port);
    ~Silent() { close_raw(filler); }
};

TEST(AddressWalk, TimeOutsOrderAndTheLocalBinding) {
    ChosenResolver chosen;
    {
        // Each silent address gets the whole time-out.
        Silent a, b;
        g_multi = {{AF_INET, a.listener.port}, {AF_INET, b.listener.port}};
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(connect_multi(1000), plat::kInvalidSocket);
        double took = seconds_since(start);
        EXPECT_GT(took, 1.9);
        EXPECT_LT(took, 20.0); // a hang guard only
        EXPECT_STREQ(RavlinkGetErrorString(nullptr), "TCP connect() timed out.");
        EXPECT_EQ(dwConnectionError, 0u);
    }

    // A local binding is consumed by the first socket even when it fails: the second is not bound.
    Listener v4;
    int bound = std::stoi(closed_port());
    g_local = {{AF_INET, bound}};
    g_multi = {{AF_INET, std::stoi(closed_port())}, {AF_INET, v4.port}};
    ASSERT_EQ(RavlinkSetLocalBindings("local", nullptr), 1);
    plat::socket_t s = connect_multi(2000);
    ASSERT_NE(s, plat::kInvalidSocket) << RavlinkGetErrorString(nullptr);
    EXPECT_NE(local_port(s), bound);
    EXPECT_EQ(std::count(g_asked.begin(), g_asked.end(), "local"), 1);
    plat::close_socket(s);
    // A bind that fails (the listener has the port) ends the walk: the next address is not tried.
    g_local = {{AF_INET, v4.port}};
    ASSERT_EQ(RavlinkSetLocalBindings("local", nullptr), 1);
    EXPECT_EQ(connect_multi(2000), plat::kInvalidSocket);
    EXPECT_PRED2(starts_with, RavlinkGetErrorString(nullptr), "Unable to bind to local binding address or port.\r\nReason: (10048, ");

    // IPv4 is tried before IPv6, whatever the order; a failure before a success is forgotten.
    Listener v6(AF_INET6);
    ASSERT_TRUE(v6.ok()) << "no IPv6 loopback";
    g_multi = {{AF_INET6, v6.port}, {AF_INET, v4.port}};
    s = connect_multi(2000);
    ASSERT_NE(s, plat::kInvalidSocket) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(peer_port(s), v4.port);
    plat::close_socket(s);
    EXPECT_EQ(g_asked, std::vector<std::string>({"multi", "multi"})); // numerically, then as a name
    g_multi = {{AF_INET6, v6.port}, {AF_INET, std::stoi(closed_port())}};
    s = connect_multi(2000);
    ASSERT_NE(s, plat::kInvalidSocket) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(peer_port(s), v6.port);
    EXPECT_STREQ(RavlinkGetErrorString(nullptr), "");
    EXPECT_EQ(dwConnectionError, 0u);
    plat::close_socket(s);
}

// ---- read_all / write_all ----

// Every read waits before it receives: zero lengths return at once, a huge time-out waits like
// none, and a wait that cannot be made fails even with data queued.
TEST(SocketIo, ReadsWaitFirst) {
    ContextPair p;
    unsigned char b[1];
    timeval tv{60, 0}; // nothing has come: a wait would take all of it (the bound only guards a hang)
    s_installTimeout(p.pc, &tv);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read_all(p.pc, b, 0, 0), 0);
    EXPECT_EQ(write_all(p.pc, b, 0), 0);
    EXPECT_LT(seconds_since(start), 30.0);
    tv.tv_sec = std::numeric_limits<decltype(tv.tv_sec)>::max();
    s_installTimeout(p.pc, &tv);
    send_raw(p.server, "xy");
    EXPECT_EQ(read_all(p.pc, b, 1, 0), 1);

    const plat::socket_t own = p.pc->socket;
    const plat::socket_t gone = plat::open_socket(AF_INET, SOCK_STREAM, 0);
    plat::close_socket(gone); // a number that names no socket now
    struct Case {
        timeval timeout;
        plat::socket_t socket;
        std::uint32_t code;
    };
    std::vector<Case> cases = {{{1, 0}, gone, 10038u}};
#ifndef _WIN32 // Wine's select takes a negative time-out, which Windows refuses (WSAEINVAL)
    cases.push_back({{-1, 0}, own, 10022u});
#endif
    for (const Case &k : cases) {
        SCOPED_TRACE(k.code);
        s_clearError();
        p.pc->socket = k.socket;
        s_installTimeout(p.pc, &k.timeout);
        EXPECT_EQ(read_all(p.pc, b, 1, 0), -1);
        p.pc->socket = own;
        EXPECT_EQ(p.pc->error, k.code);
        EXPECT_PRED2(starts_with, RavlinkErrorArray, "read_all:  select() returned SOCKET_ERROR.  \r\nReason: (");
    }
    tv = timeout_ms(1000);
    s_installTimeout(p.pc, &tv);
    EXPECT_EQ(read_all(p.pc, b, 1, 0), 1); // the queued byte is still there
    EXPECT_EQ(b[0], 'y');
}

#ifndef _WIN32
TEST(SocketIo, DescriptorsAbove1024AreWaitedFor) {
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    if (lim.rlim_cur < 1200) GTEST_SKIP() << "the open-file limit is below 1200";
    ContextPair p;
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
    EXPECT_EQ(::recv(p.server, reinterpret_cast<char *>(b), 4, 0), 4);
    tv = timeout_ms(100);
    EXPECT_EQ(read_all(p.pc, b, 4, 0), 0); // and the time-out still holds
}

// Every errno and resolver code becomes a Winsock number that has an English text, so no error
// text ends in an empty reason.
TEST(SocketErrors, EveryMappedCodeHasAText) {
    using namespace plat::posix;
    for (int err = 1; err < 200; ++err) {
        EXPECT_GE(wsa_from_errno(err), 10000) << "errno " << err;
        EXPECT_FALSE(plat::system_message(static_cast<std::uint32_t>(wsa_from_errno(err))).empty()) << "errno " << err;
    }
    for (int eai : {EAI_AGAIN, EAI_BADFLAGS, EAI_FAIL, EAI_FAMILY, EAI_MEMORY, EAI_NONAME, EAI_SERVICE, EAI_SOCKTYPE,
                    EAI_OVERFLOW, EAI_SYSTEM, -9999}) {
        EXPECT_NE(wsa_from_eai(eai, ECONNREFUSED), 0) << "EAI " << eai;
        EXPECT_FALSE(plat::system_message(static_cast<std::uint32_t>(wsa_from_eai(eai, ECONNREFUSED))).empty()) << eai;
    }
    EXPECT_EQ(wsa_from_eai(EAI_NONAME, 0), 11001);
}
#endif

} // namespace
