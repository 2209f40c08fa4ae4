// Each C allocation of the library made to fail in turn, on the connect, send, receive,
// definitions and TLS set-up paths: every failure must give the documented result (null or 0
// with code 8 and its text, or the path's own refusal), nothing may crash or leak (this program
// runs in the sanitizer build, whose LeakSanitizer checks at exit), and afterwards the same
// operation must work.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

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
// the failure's number; `op` returns "" when its result is one the library documents.
void each_allocation_fails(const std::function<std::string()> &op) {
    for (long n = 1; n < 2000; ++n) {
        arm_allocation_failure(n);
        std::string r = op();
        long made = disarm_allocation_failure();
        EXPECT_EQ(r, "") << "with allocation " << n << " failing";
        if (made < n) { // every allocation has had its turn; now it must work
            std::printf("%ld allocations, each failed once\n", n - 1);
            EXPECT_EQ(op(), "");
            return;
        }
    }
    ADD_FAILURE() << "more than 2000 allocations";
}

// Lets a one-connection server that still waits for its client go: connects and leaves at once.
void release(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_storage a;
    socklen_t n = loopback_address(AF_INET, port, a);
    ::connect(fd, reinterpret_cast<sockaddr *>(&a), n);
    close_raw(fd);
}

// A failed call must say why: code 8 ("not enough memory") or a text of its own.
std::string reported(RavlinkContext *pc) {
    const std::string text = RavlinkGetErrorString(pc);
    return RavlinkGetErrorCode(pc) == 8 || !text.empty()
               ? ""
               : "a failure without a code or text (" + std::to_string(RavlinkGetErrorCode(pc)) + ")";
}

TEST(AllocationFailure, ConnectSendAndReceiveAtLevelZero) {
    Listener l(AF_INET, 64);
    std::thread echo([&] {
        for (;;) {
            int fd = l.accept_one();
            if (fd < 0) return;
            char buf[16];
            long n = ::recv(fd, buf, sizeof buf, 0);
            if (n == 1 && buf[0] == 'q') {
                close_raw(fd);
                return;
            }
            if (n > 0) send_raw(fd, std::string(buf, static_cast<size_t>(n)));
            close_raw(fd);
        }
    });
    const std::string refused = closed_port();
    set_env("SSH_CONNECTION", "192.0.2.7 50000 127.0.0.1 22"); // a client name to keep
    each_allocation_fails([&]() -> std::string {
        timeval tv = timeout_ms(5000);
        if (RavlinkToHostPort("127.0.0.1", refused.c_str(), &tv, 0, nullptr) != nullptr) return "a refused connect succeeded";
        RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 0, nullptr);
        if (pc == nullptr) return reported(nullptr);
        char back[5] = {};
        std::string r;
        if (RavlinkSend(pc, "hello", 5, &tv) != 1 || RavlinkRecv(pc, back, 5, &tv) != 0)
            r = reported(pc);
        else if (std::memcmp(back, "hello", 5) != 0)
            r = "the echo came back wrong";
        RavlinkClose(pc);
        return r;
    });
    set_env("SSH_CONNECTION", nullptr);
    timeval tv = timeout_ms(5000);
    RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 0, nullptr);
    RavlinkSend(pc, "q", 1, &tv);
    RavlinkClose(pc);
    echo.join();
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
    each_allocation_fails([]() -> std::string {
        char address[64], port[32], principal[128];
        std::int32_t level = 0;
        // Either may refuse (nothing recorded, only traced); neither may crash or leak.
        if (ServerToHostPort("echo", address, sizeof address, port, sizeof port, principal, sizeof principal, &level) &&
            (std::strcmp(address, "127.0.0.1") != 0 || level != 3))
            return "a wrong definition";
        SSLdefinition *d = s_findSSLdefinition("127.0.0.1", "7443");
        std::string r = d != nullptr && std::strcmp(d->config.Protocols, "24") != 0 ? "a wrong SSL definition" : "";
        std::free(d);
        return r;
    });
    set_env("QXN_SSLconfigurations", nullptr);
    set_env("QXN_ravlink_registry_machine", nullptr);
    std::remove(hive.c_str());
    std::remove(defs.c_str());
}

TEST(AllocationFailure, TlsSetUpAndFirstExchange) {
    if (pki_dir().empty()) GTEST_SKIP() << "the test PKI could not be made";
    each_allocation_fails([]() -> std::string {
        Listener l;
        TlsTestServer server(l, {}, TlsTestServer::echo);
        timeval tv = timeout_ms(5000);
        SslFields f = trusting();
        RavlinkSSLconfig record = f.record();
        RavlinkContext *pc =
            RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 11, reinterpret_cast<const char *>(&record));
        if (pc == nullptr) {
            release(l.port);
            return reported(nullptr);
        }
        char back[3] = {};
        std::string r;
        if (RavlinkSend(pc, "tls", 3, &tv) != 1 || RavlinkRecv(pc, back, 3, &tv) != 0)
            r = reported(pc);
        else if (std::memcmp(back, "tls", 3) != 0)
            r = "the echo came back wrong";
        RavlinkClose(pc);
        return r;
    });
}

TEST(AllocationFailure, KerberosContextAndProtectedMessages) {
    REQUIRE_REALM();
    each_allocation_fails([]() -> std::string {
        OneShotServer server([](int fd) { ravlink_tool::serve_kerberos_connection(fd, 3, nullptr, false); });
        timeval tv = timeout_ms(5000);
        RavlinkContext *pc = RavlinkLoginToHostPort("127.0.0.1", server.port().c_str(), &tv, 3, nullptr, nullptr,
                                                    nullptr, "sedrin/localhost");
        if (pc == nullptr) {
            release(server.listener.port);
            return reported(nullptr);
        }
        std::string message(30000, 'k'), back(message.size(), '\0'); // three tokens each way
        std::string r;
        if (RavlinkSend(pc, message.data(), static_cast<uint32_t>(message.size()), &tv) != 1 ||
            RavlinkRecv(pc, &back[0], static_cast<int32_t>(back.size()), &tv) != 0)
            r = reported(pc);
        else if (back != message)
            r = "the echo came back wrong";
        RavlinkClose(pc);
        return r;
    });
}

} // namespace
