// Command-line options: --name VALUE, --name=VALUE, flags, and positional arguments.
#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tool {

std::string Options::get(const std::string &name, const std::string &fallback) const {
    auto it = values_.find(name);
    return it == values_.end() ? fallback : it->second;
}

bool Options::get_long(const std::string &name, long fallback, long &out, std::string &error) const {
    if (!has(name)) {
        out = fallback;
        return true;
    }
    std::string text = get(name);
    char *end = nullptr;
    errno = 0;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0) {
        error = name + " needs a whole number, not '" + text + "'";
        return false;
    }
    out = value;
    return true;
}

bool Options::get_seconds(const std::string &name, double fallback, double &out, std::string &error) const {
    if (!has(name)) {
        out = fallback;
        return true;
    }
    std::string text = get(name);
    char *end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= 0) || value > 1e6) {
        error = name + " needs a number of seconds, not '" + text + "'";
        return false;
    }
    out = value;
    return true;
}

bool parse_options(int argc, char **argv, int first, const std::vector<OptionSpec> &specs, Options &out,
                   std::string &error) {
    for (int i = first; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            out.set("--help", "");
            continue;
        }
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            out.positional.push_back(arg);
            continue;
        }
        std::string name = arg, value;
        bool inlineValue = false;
        if (auto eq = arg.find('='); eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        const OptionSpec *match = nullptr;
        for (const auto &s : specs)
            if (name == s.name) match = &s;
        if (match == nullptr) {
            error = "unknown option " + name;
            return false;
        }
        if (match->value == nullptr) {
            if (inlineValue) {
                error = name + " takes no value";
                return false;
            }
            out.set(name, "");
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= argc) {
                error = name + " needs a value (" + match->value + ")";
                return false;
            }
            value = argv[++i];
        }
        out.set(name, value);
    }
    return true;
}

void print_option_help(FILE *out, const std::vector<OptionSpec> &specs) {
    for (const auto &s : specs) {
        std::string left = std::string("  ") + s.name + (s.value != nullptr ? std::string(" ") + s.value : "");
        std::fprintf(out, "%-28s %s\n", left.c_str(), s.help);
    }
    std::fprintf(out, "%-28s %s\n", "  --help", "this text");
}

} // namespace tool
