// ravlink connect HOST PORT: like nc, copies standard input to the connection and the connection
// to standard output until both ends are done. On a failure it prints the library's error text.
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "connection_info.h"
#include "login.h"
#include "option_checks.h"
#include "tls_record.h"
#include "ravlink.h"
#include "relay.h"
#include "tls_config_warnings.h"

namespace {

// Opens the connection the options ask for. Level 11 takes a record in place of the principal.
RavlinkContext *open_connection(const tool::Options &o, long level, const timeval &timeout,
                                const tool::Login &login, const tool::TlsRecord &tlsRecord) {
    const std::string principal = o.get("--principal");
    const char *last = o.has("--principal") ? principal.c_str() : nullptr;
    if (level == 11) last = reinterpret_cast<const char *>(tlsRecord.record());
    return RavlinkLoginToHostPort(o.positional[0].c_str(), o.positional[1].c_str(), &timeout,
                                  static_cast<int32_t>(level), login.user_or_null(), login.password_or_null(),
                                  login.authority_or_null(), last);
}

int run(const tool::Options &o) {
    if (o.positional.size() != 2) {
        std::fputs("ravlink connect: needs HOST and PORT (see ravlink connect --help)\n", stderr);
        return 2;
    }
    long level = 0;
    std::string error;
    tool::Login login;
    tool::TlsRecord tlsRecord;
    if (!o.get_long("--level", 0, level, error) ||
        !tool::check_port(o.positional[1], false, error) || !tool::check_level_options(o, level, error) ||
        !tool::read_login(o, login, error) || (level == 11 && !tlsRecord.load(o, error))) {
        std::fprintf(stderr, "ravlink connect: %s\n", error.c_str());
        return 2;
    }
    timeval timeout{};
    if (!tool::prepare_relay(o, "connect", timeout)) return 2;
    if (level == 0 || level == 10) tool::warn_missing_definition_section("connect", o.positional[0], o.positional[1], level);
    if (level == 10) tool::warn_unknown_configuration("connect", o.positional[0], o.positional[1], o.get("--principal"));
    RavlinkContext *pc = open_connection(o, level, timeout, login, tlsRecord);
    if (pc == nullptr) return tool::report_failure(nullptr, "connect", "connect failed");
    if (o.has("--verbose")) tool::describe_connection(stderr, pc);
    return tool::relay(pc, o, timeout, "connect");
}

std::vector<tool::OptionSpec> options() {
    std::vector<tool::OptionSpec> all = {
        {"--level", "N", "security level: 0 plain (default), 1-3 Kerberos, 10/11 TLS"},
        {"--principal", "P", "service principal name (levels 0-3) or TLS configuration name (level 10)"},
        {"--verbose", nullptr, "describe the connection on standard error (level, type, client name)"},
    };
    for (const auto &more : {tool::login_options(), tool::relay_options()})
        all.insert(all.end(), more.begin(), more.end());
    return all;
}

const tool::Command command{
    "connect",
    "connect HOST PORT [options]",
    "copy standard input to a connection and the connection to standard output until both end (like nc)",
    options(),
    run,
    tool::tls_record_options};
RAVLINK_COMMAND(command);

} // namespace
