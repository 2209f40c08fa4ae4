// Test support: the throwaway Kerberos realm of tests/fixtures/krb5_realm.sh, started on first
// use by a test process and torn down when the process ends. It sets KRB5_CONFIG, KRB5CCNAME
// (holding the user's ticket) and KRB5_KTNAME (the server's keys) for the process.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "support/loopback.h"

#ifndef RAVLINK_SOURCE_DIR
#error "RAVLINK_SOURCE_DIR names the source tree (for the realm fixture)"
#endif

namespace testsupport {

class Realm {
public:
    // The process's realm; started on the first call. Check ok() (else reason()).
    static Realm &get() {
        static Realm realm;
        return realm;
    }
    bool ok() const { return ok_; }
    // True when the realm cannot be had here at all (Windows, or no KDC installed): tests skip.
    // Otherwise a realm that does not start is a failure.
    bool unavailable() const { return unavailable_; }
    const std::string &reason() const { return reason_; }
    std::string value(const std::string &name) const {
        auto it = vars_.find(name);
        return it == vars_.end() ? std::string() : it->second;
    }
    std::string user() const { return value("RAVLINK_REALM_USER"); }
    std::string realm() const { return value("RAVLINK_REALM"); }
    std::string password() const {
        std::ifstream in(value("RAVLINK_REALM_PASSWORD_FILE"));
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The server's keytab file (without its FILE: prefix).
    std::string keytab() const { return value("KRB5_KTNAME").substr(5); }
    // The default credentials cache: removed and restored, for tests of a user without tickets.
    void set_ccache(const std::string &name) { set_env("KRB5CCNAME", name.c_str()); }
    std::string ccache() const { return value("KRB5CCNAME"); }

    ~Realm() {
        if (!dir_.empty())
            std::system(("'" + script() + "' stop '" + dir_ + "' >/dev/null 2>&1").c_str());
    }

private:
    static std::string script() { return std::string(RAVLINK_SOURCE_DIR) + "/tests/fixtures/krb5_realm.sh"; }

    Realm() {
#ifdef _WIN32
        reason_ = "Wine's SSPI does not accept the identity form this library uses; no Kerberos under Wine";
        unavailable_ = true;
#else
        char tmpl[] = "/tmp/ravlink-realm-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) {
            reason_ = "cannot create a directory for the realm";
            return;
        }
        dir_ = tmpl;
        std::string out = run_capture("'" + script() + "' start '" + dir_ + "' 2>&1; echo \"exit=$?\"");
        if (out.find("exit=3") != std::string::npos) unavailable_ = true; // the KDC's tools are missing
        std::istringstream lines(out);
        std::string line;
        while (std::getline(lines, line)) {
            auto eq = line.find('=');
            if (eq != std::string::npos && eq > 0 && line.find(' ') > eq) vars_[line.substr(0, eq)] = line.substr(eq + 1);
        }
        if (vars_.count("KRB5_CONFIG") == 0) {
            reason_ = "the test realm did not start: " + out;
            return;
        }
        for (const char *name : {"KRB5_CONFIG", "KRB5CCNAME", "KRB5_KTNAME"}) set_env(name, vars_[name].c_str());
        set_env("KRB5_CLIENT_KTNAME", nullptr);
        ok_ = true;
#endif
    }

    bool ok_ = false;
    bool unavailable_ = false;
    std::string reason_;
    std::string dir_;
    std::map<std::string, std::string> vars_;
};

} // namespace testsupport

// Skips the test where there can be no realm (Windows, a machine without the KDC); fails it when
// the realm should have started and did not.
#define REQUIRE_REALM()                                                                          \
    do {                                                                                         \
        auto &realm_ = ::testsupport::Realm::get();                                              \
        if (!realm_.ok() && realm_.unavailable()) GTEST_SKIP() << realm_.reason();               \
        if (!realm_.ok()) FAIL() << realm_.reason();                                             \
    } while (0)
