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
#else
        char tmpl[] = "/tmp/ravlink-realm-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) {
            reason_ = "cannot create a directory for the realm";
            return;
        }
        dir_ = tmpl;
        std::string out = run_capture("'" + script() + "' start '" + dir_ + "' 2>&1");
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
    std::string reason_;
    std::string dir_;
    std::map<std::string, std::string> vars_;
};

} // namespace testsupport

// Skips the test when there is no realm (Windows, or a machine without the KDC).
#define REQUIRE_REALM()                                                                          \
    do {                                                                                         \
        if (!::testsupport::Realm::get().ok()) GTEST_SKIP() << ::testsupport::Realm::get().reason(); \
    } while (0)
