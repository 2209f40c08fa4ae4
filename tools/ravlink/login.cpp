// Reading the Kerberos login options.
#include "login.h"

#include <cstdio>
#include <cstdlib>

namespace tool {

namespace {

bool read_password(const Options &o, std::string &password, bool *given, std::string &error) {
    *given = false;
    if (o.has("--password-env")) {
        const char *value = std::getenv(o.get("--password-env").c_str());
        if (value == nullptr) {
            error = "the environment variable " + o.get("--password-env") + " is not set";
            return false;
        }
        password = value;
        *given = true;
        return true;
    }
    if (o.has("--password-file")) {
        std::string name = o.get("--password-file");
        FILE *f = std::fopen(name.c_str(), "rb");
        if (f == nullptr) {
            error = "cannot read the password file " + name;
            return false;
        }
        char buf[512];
        size_t n = std::fread(buf, 1, sizeof buf, f);
        std::fclose(f);
        password.assign(buf, n);
        // The first line is the password; a line end after it is not part of it.
        size_t end = password.find_first_of("\r\n");
        if (end != std::string::npos) password.resize(end);
        *given = true;
        return true;
    }
    return true;
}

} // namespace

std::vector<OptionSpec> login_options() {
    return {
        {"--user", "NAME", "Kerberos user name (levels 1-3; default: the caller's own tickets)"},
        {"--authority", "DOMAIN", "Kerberos authority (realm) of --user (default: the computer's DNS domain)"},
        {"--password-env", "VAR", "take the password of --user from this environment variable"},
        {"--password-file", "FILE", "take the password of --user from the first line of this file"},
    };
}

bool read_login(const Options &o, Login &login, std::string &error) {
    login.hasUser = o.has("--user");
    login.hasAuthority = o.has("--authority");
    login.user = o.get("--user");
    login.authority = o.get("--authority");
    return read_password(o, login.password, &login.hasPassword, error);
}

} // namespace tool
