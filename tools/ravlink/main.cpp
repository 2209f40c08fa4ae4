// ravlink: the command-line face of the library. One file per command; this one dispatches.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "command.h"

namespace tool {

std::vector<const Command *> &commands() {
    static std::vector<const Command *> list;
    return list;
}

std::vector<OptionSpec> all_options(const Command &command) {
    std::vector<OptionSpec> specs = command.options;
    if (command.more_options != nullptr) {
        std::vector<OptionSpec> more = command.more_options();
        specs.insert(specs.end(), more.begin(), more.end());
    }
    return specs;
}

} // namespace tool

namespace {

void usage(FILE *out) {
    std::fputs("usage: ravlink COMMAND [options]   (ravlink COMMAND --help for its options)\n", out);
    auto list = tool::commands();
    std::sort(list.begin(), list.end(),
              [](const tool::Command *a, const tool::Command *b) { return std::strcmp(a->name, b->name) < 0; });
    for (const tool::Command *c : list) std::fprintf(out, "  %-10s %s\n", c->name, c->summary);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const tool::Command *c : tool::commands()) {
        if (std::strcmp(argv[1], c->name) != 0) continue;
        tool::Options options;
        std::string error;
        const std::vector<tool::OptionSpec> specs = tool::all_options(*c);
        if (!tool::parse_options(argc, argv, 2, specs, options, error)) {
            std::fprintf(stderr, "ravlink %s: %s\n", c->name, error.c_str());
            return 2;
        }
        if (options.has("--help")) {
            std::printf("usage: ravlink %s\n%s\n", c->usage, c->summary);
            tool::print_option_help(stdout, specs);
            return 0;
        }
        return c->run(options);
    }
    std::fprintf(stderr, "ravlink: unknown command '%s'\n", argv[1]);
    usage(stderr);
    return 2;
}
