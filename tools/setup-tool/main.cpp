// setup-tool: a command-line companion for support engineers and scripts.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Subcommand.h"
#include "platform/ProcessLogger.h"

namespace setuptool {
namespace {

std::vector<Subcommand>& Registry() {
    static std::vector<Subcommand> commands;
    return commands;
}

void PrintUsage(FILE* out) {
    std::fprintf(out, "usage: setup-tool [--log] <command> [args]\n\n"
                      "  --log   also print the process log on standard output\n\ncommands:\n");
    std::vector<Subcommand> sorted = Registry();
    std::sort(sorted.begin(), sorted.end(),
              [](const Subcommand& a, const Subcommand& b) { return std::strcmp(a.name, b.name) < 0; });
    for (const auto& c : sorted) std::fprintf(out, "  %-58s %s\n", c.synopsis, c.summary);
    std::fprintf(out, "\nexit codes: 0 success, 1 failure, 2 usage error\n");
}

}  // namespace

const std::vector<Subcommand>& AllSubcommands() { return Registry(); }

SubcommandRegistration::SubcommandRegistration(const char* name, const char* synopsis, const char* summary,
                                               SubcommandFn run) {
    Registry().push_back({name, synopsis, summary, run});
}

int UsageError(const char* name, const std::string& why) {
    if (!why.empty()) std::fprintf(stderr, "setup-tool %s: %s\n", name, why.c_str());
    for (const auto& c : Registry()) {
        if (std::strcmp(c.name, name) == 0) std::fprintf(stderr, "usage: setup-tool %s\n", c.synopsis);
    }
    return EXIT_USAGE;
}

}  // namespace setuptool

int main(int argc, char** argv) {
    using namespace setuptool;
    std::vector<std::string> args(argv + 1, argv + argc);
    bool log = false;
    if (!args.empty() && args.front() == "--log") {
        log = true;
        args.erase(args.begin());
    }
    qvlog::InitDefaultLogger(log);
    if (args.empty() || args.front() == "--help" || args.front() == "-h" || args.front() == "help") {
        PrintUsage(args.empty() ? stderr : stdout);
        return args.empty() ? EXIT_USAGE : EXIT_OK;
    }
    for (const auto& c : AllSubcommands()) {
        if (args.front() == c.name) {
            return c.run(std::vector<std::string>(args.begin() + 1, args.end()));
        }
    }
    std::fprintf(stderr, "setup-tool: unknown command '%s'\n\n", args.front().c_str());
    PrintUsage(stderr);
    return EXIT_USAGE;
}
