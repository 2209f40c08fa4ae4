// The tool's shared option parser: every command declares its options once, and the same list
// parses the command line and writes the --help text.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace tool {

struct OptionSpec {
    const char *name;  // "--level"
    const char *value; // the value's placeholder ("N"), or null for a flag
    const char *help;
};

class Options {
public:
    std::vector<std::string> positional;

    bool has(const std::string &name) const { return values_.count(name) != 0; }
    std::string get(const std::string &name, const std::string &fallback = "") const;
    // A whole decimal number; false (with an error text) when the value is not one.
    bool get_long(const std::string &name, long fallback, long &out, std::string &error) const;
    bool get_seconds(const std::string &name, double fallback, double &out, std::string &error) const;
    void set(const std::string &name, const std::string &value) { values_[name] = value; }

private:
    std::map<std::string, std::string> values_;
};

// Parses argv[first..] against the specs (plus --help). False with an error text on an unknown
// option or a missing value.
bool parse_options(int argc, char **argv, int first, const std::vector<OptionSpec> &specs, Options &out,
                   std::string &error);
void print_option_help(FILE *out, const std::vector<OptionSpec> &specs);

} // namespace tool
