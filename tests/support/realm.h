// Test support: the throwaway Kerberos realm of tests/fixtures/krb5_realm.sh and Kerberos echo
// servers. On Linux a test process starts the realm on first use and tears it down when it ends;
// it sets KRB5_CONFIG, KRB5CCNAME (holding the user's ticket) and KRB5_KTNAME (the server's keys).
// Under Wine the test driver (tests/wine_peers.sh) has started the realm and Linux servers and
// passes the realm's variables and the servers' ports in the environment.
#pragma once

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "support/loopback.h"

#ifndef _WIN32
#include "ravlink/gss_server.h"
#endif

namespace testsupport {

class Realm {
public:
    static Realm &get() {
        static Realm realm;
        return realm;
    }
    bool ok() const { return ok_; }
    bool unavailable() const { return unavailable_; } // no KDC installed here
    const std::string &reason() const { return reason_; }
    std::map<std::string, std::string> vars; // what the fixture printed
    std::string user() { return vars["RAVLINK_REALM_USER"]; }
    std::string realm() { return vars["RAVLINK_REALM"]; }
    std::string password() {
        std::ifstream in(vars["RAVLINK_REALM_PASSWORD_FILE"], std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // A keytab with the keys of "sedrin" alone (no host part), beside the password file.
    std::string sedrin_keytab() {
        std::string file = vars["RAVLINK_REALM_PASSWORD_FILE"];
        return file.substr(0, file.rfind('/')) + "/sedrin.keytab";
    }

private:
    bool ok_ = false, unavailable_ = false;
#ifdef _WIN32
    std::string reason_ = "RAVLINK_REALM is not set: run this program through ctest (tests/wine_peers.sh "
                          "starts the realm and passes it in the environment)";
    Realm() {
        for (const char *name : {"KRB5_CONFIG", "KRB5CCNAME", "RAVLINK_REALM", "RAVLINK_REALM_USER",
                                 "RAVLINK_REALM_PASSWORD_FILE"})
            if (const char *v = std::getenv(name)) vars[name] = v;
        ok_ = vars.size() == 5;
    }
#else
    std::string reason_ = "cannot create a directory for the realm", dir_;
    const std::string script_ = std::string(RAVLINK_SOURCE_DIR) + "/tests/fixtures/krb5_realm.sh";

    Realm() {
        char tmpl[] = "/tmp/ravlink-realm-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) return;
        dir_ = tmpl;
        std::string out = run_capture("'" + script_ + "' start '" + dir_ + "' 2>&1; echo \"exit=$?\"");
        unavailable_ = out.find("exit=3") != std::string::npos; // the KDC's tools are missing
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            auto eq = line.find('=');
            if (eq != std::string::npos && eq > 0 && line.find(' ') > eq) vars[line.substr(0, eq)] = line.substr(eq + 1);
        }
        reason_ = "the test realm did not start: " + out;
        if (vars.count("KRB5_CONFIG") == 0) return;
        for (const char *name : {"KRB5_CONFIG", "KRB5CCNAME", "KRB5_KTNAME"}) set_env(name, vars[name].c_str());
        set_env("KRB5_CLIENT_KTNAME", nullptr);
        ok_ = true;
    }
    ~Realm() { if (!dir_.empty()) std::system(("'" + script_ + "' stop '" + dir_ + "' >/dev/null 2>&1").c_str()); }
#endif
};

// A server on a loopback port that runs `body` on its first connection, in its own thread.
struct OneShotServer {
    Listener listener;
    std::thread thread;
    explicit OneShotServer(std::function<void(ravlink_socket_t fd)> body)
        : thread([this, body] {
              ravlink_socket_t fd = listener.accept_one();
              body(fd);
              close_raw(fd);
          }) {}
    ~OneShotServer() { if (thread.joinable()) thread.join(); }
    std::string port() const { return listener.port_text(); }
};

// The Kerberos echo server of one level (1 to 3) for a test's connection: it accepts the context
// with the realm's server keys (at level 3 with the keys of "sedrin" alone) and sends back what
// it unwraps, wrapped the way the client wrapped it. On Linux it runs in the test process for
// one connection; under Wine it is `ravlink serve --level N` on Linux, its port in
// RAVLINK_KERBEROS_PEER_<N>.
class KerberosPeer {
public:
    explicit KerberosPeer(int level) {
#ifdef _WIN32
        const char *port = std::getenv(("RAVLINK_KERBEROS_PEER_" + std::to_string(level)).c_str());
        port_ = port ? port : "";
#else
        std::string keytab = level == 3 ? Realm::get().sedrin_keytab() : std::string();
        server_.reset(new OneShotServer([level, keytab](ravlink_socket_t fd) {
            tool::serve_kerberos_connection(fd, level, keytab.empty() ? nullptr : keytab.c_str(), false);
        }));
        port_ = server_->port();
#endif
    }
    const std::string &port() const { return port_; }
    bool ok() const { return !port_.empty(); }

private:
    std::string port_;
#ifndef _WIN32
    std::unique_ptr<OneShotServer> server_;
#endif
};

} // namespace testsupport

// Skips the test on a machine without a KDC; fails it when the realm should have started and did not.
#define REQUIRE_REALM()                                                                            \
    if (auto &realm_ = ::testsupport::Realm::get(); !realm_.ok()) {                                \
        if (realm_.unavailable()) GTEST_SKIP() << realm_.reason();                                 \
        FAIL() << realm_.reason();                                                                 \
    }
