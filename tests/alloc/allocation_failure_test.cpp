// Each allocation of the library (C and C++) made to fail in turn, on the connect, send, receive,
// definitions and TLS set-up paths: every failure must give the documented result (null or 0
// with code 8 and its text, or the path's own refusal), nothing may crash or leak (this program
// runs in the sanitizer build, whose LeakSanitizer checks at exit), and afterwards the same
// operation must work.
#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "alloc/failing_malloc.h"
#include "config/server_definitions.h"
#include "config/ssl_definitions.h"
#include "ravlink/gss_server.h"
#include "support/realm.h"
#include "support/registry_fixture.h"
#include "support/tls_fixtures.h"

namespace {

using namespace testsupport;

// Runs `op` with the 1st, 2nd, ... allocation failing until it makes no more allocations than
// the failure's number; `op` returns null when its result is one the library documents, else
// what was wrong. While armed, the test side makes no allocation of its own on this thread: its
// peers run on threads of their own and its texts are literals.
void each_allocation_fails(const std::function<const char *()> &op) {
    for (long n = 1; n < 5000; ++n) {
        arm_allocation_failure(n);
        const char *r;
        try {
            r = op();
        } catch (...) {
            r = "an exception crossed the C surface";
        }
        long made = disarm_allocation_failure();
        EXPECT_EQ(r, nullptr) << r << " with allocation " << n << " failing";
        if (made < n) { // every allocation has had its turn; now it must work
            std::printf("%ld allocations, each failed once\n", n - 1);
            r = op();
            EXPECT_EQ(r, nullptr) << r;
            return;
        }
    }
    ADD_FAILURE() << "more than 5000 allocations";
}

// A failed call must say why: code 8 ("not enough memory") or a text of its own.
const char *reported(RavlinkContext *pc) {
    return RavlinkGetErrorCode(pc) == 8 || RavlinkGetErrorString(pc)[0] != '\0' ? nullptr
                                                                                 : "a failure without a code or text";
}

// Sends `message` and expects it back.
const char *echo(RavlinkContext *pc, const std::string &message, std::string &back) {
    timeval tv = timeout_ms(5000);
    const char *r = nullptr;
    if (RavlinkSend(pc, message.data(), static_cast<uint32_t>(message.size()), &tv) != 1 ||
        RavlinkRecv(pc, &back[0], static_cast<int32_t>(back.size()), &tv) != 0)
        r = reported(pc);
    else if (back != message)
        r = "the echo came back wrong";
    RavlinkClose(pc);
    return r;
}

TEST(AllocationFailure, ConnectSendAndReceiveAtLevelZero) {
    Service peer([](ravlink_socket_t fd) {
        limit_receives(fd, 10);
        char buf[16];
        long n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0) send_raw(fd, std::string(buf, static_cast<size_t>(n)));
    });
    const std::string refused = closed_port(), port = peer.port_text(), message = "hello";
    std::string back(message.size(), '\0');
    set_env("SSH_CONNECTION", "192.0.2.7 50000 127.0.0.1 22"); // a client name to keep
    each_allocation_fails([&]() -> const char * {
        timeval tv = timeout_ms(5000);
        if (RavlinkToHostPort("127.0.0.1", refused.c_str(), &tv, 0, nullptr) != nullptr) return "a refused connect succeeded";
        RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", port.c_str(), &tv, 0, nullptr);
        return pc == nullptr ? reported(nullptr) : echo(pc, message, back);
    });
    set_env("SSH_CONNECTION", nullptr);
}

TEST(AllocationFailure, ServerAndSslDefinitions) {
    const std::string hive = temp_file("alloc-hive.reg"), defs = temp_file("alloc-SSLdefs.ini");
    write_file(hive, "Windows Registry Editor Version 5.00\r\n\r\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannoc\\Sedrin\\Servers\\echo]\r\n"
                     "\"Address\"=\"127.0.0.1\"\r\n\"Port\"=\"7000\"\r\n\"ConnectionSecurityLevel\"=\"3\"\r\n");
    write_file(defs, "[s]\naddress=127.0.0.1\nport=7443\nSSLConfig=cfg\nConnectionSecurityLevel=0\n"
                     "[cfg]\nProtocols=24\nCAfile=/tmp/ca.pem\n[end]\n");
    set_env("QXN_ravlink_registry_machine", hive.c_str());
    set_env("QXN_SSLconfigurations", defs.c_str());
    // Either may refuse (nothing recorded, only traced) or, from a standard container, throw for
    // the connect's guard to report; neither may crash or leak.
    each_allocation_fails([]() -> const char * {
        try {
            char address[64], port[32], principal[128];
            std::int32_t level = 0;
            if (ServerToHostPort("echo", address, sizeof address, port, sizeof port, principal, sizeof principal, &level) &&
                (std::strcmp(address, "127.0.0.1") != 0 || level != 3))
                return "a wrong definition";
        } catch (const std::bad_alloc &) {
        }
        try {
            SSLdefinition *d = s_findSSLdefinition("127.0.0.1", "7443");
            const char *r = d != nullptr && std::strcmp(d->config.Protocols, "24") != 0 ? "a wrong SSL definition" : nullptr;
            std::free(d);
            return r;
        } catch (const std::bad_alloc &) {
            return nullptr;
        }
    });
    // Through the C surface, a failure in either look-up fails the connect with its reason.
    each_allocation_fails([]() -> const char * {
        timeval tv = timeout_ms(2000);
        if (RavlinkToServer("echo", &tv) != nullptr || RavlinkToHostPort("127.0.0.1", "7443", &tv, 0, nullptr) != nullptr)
            return "a connect to a closed port succeeded";
        return nullptr;
    });
    set_env("QXN_SSLconfigurations", nullptr);
    set_env("QXN_ravlink_registry_machine", nullptr);
    std::remove(hive.c_str());
    std::remove(defs.c_str());
}

TEST(AllocationFailure, TlsSetUpAndFirstExchange) {
    REQUIRE_PKI();
    Service peer([](ravlink_socket_t fd) { serve_tls(fd, {}, echo_until_closed); });
    const std::string port = peer.port_text(), message = "tls";
    std::string back(message.size(), '\0');
    SslFields f = trusting();
    RavlinkSSLconfig record = f.record();
    each_allocation_fails([&]() -> const char * {
        timeval tv = timeout_ms(5000);
        RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", port.c_str(), &tv, 11, reinterpret_cast<const char *>(&record));
        return pc == nullptr ? reported(nullptr) : echo(pc, message, back);
    });
}

TEST(AllocationFailure, KerberosContextAndProtectedMessages) {
    REQUIRE_REALM();
    Service peer([](ravlink_socket_t fd) { tool::serve_kerberos_connection(fd, 3, nullptr, false); });
    const std::string port = peer.port_text(), message(30000, 'k'); // three tokens each way
    std::string back(message.size(), '\0');
    each_allocation_fails([&]() -> const char * {
        timeval tv = timeout_ms(5000);
        RavlinkContext *pc = RavlinkLoginToHostPort("127.0.0.1", port.c_str(), &tv, 3, nullptr, nullptr, nullptr,
                                                    "sedrin/localhost");
        return pc == nullptr ? reported(nullptr) : echo(pc, message, back);
    });
}

} // namespace
