// Test support (POSIX): the throwaway Kerberos realm of tests/fixtures/krb5_realm.sh, started on
// first use by a test process and torn down when the process ends. It sets KRB5_CONFIG, KRB5CCNAME
// (holding the user's ticket) and KRB5_KTNAME (the server's keys) for the process.
#pragma once

#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "support/loopback.h"

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
    std::string password() { return run_capture("cat '" + vars["RAVLINK_REALM_PASSWORD_FILE"] + "'"); }
    // A keytab with the keys of "sedrin" alone (no host part), beside the password file.
    std::string sedrin_keytab() {
        std::string file = vars["RAVLINK_REALM_PASSWORD_FILE"];
        return file.substr(0, file.rfind('/')) + "/sedrin.keytab";
    }

private:
    bool ok_ = false, unavailable_ = false;
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
};

// A server on a loopback port that runs `body` on its first connection, in its own thread.
struct OneShotServer {
    Listener listener;
    std::thread thread;
    explicit OneShotServer(std::function<void(int fd)> body)
        : thread([this, body] {
              int fd = listener.accept_one();
              body(fd);
              close_raw(fd);
          }) {}
    ~OneShotServer() { if (thread.joinable()) thread.join(); }
    std::string port() const { return listener.port_text(); }
};

} // namespace testsupport

// Skips the test on a machine without a KDC; fails it when the realm should have started and did not.
#define REQUIRE_REALM()                                                                            \
    if (auto &realm_ = ::testsupport::Realm::get(); !realm_.ok()) {                                \
        if (realm_.unavailable()) GTEST_SKIP() << realm_.reason();                                 \
        FAIL() << realm_.reason();                                                                 \
    }
