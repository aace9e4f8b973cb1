#pragma once
// setup-tool subcommands. Each lives in its own cmd_<name>.cpp and registers itself:
//
//   static const SubcommandRegistration reg{"sysinfo", "sysinfo [--file PATH]",
//                                           "print facts of this machine", &RunSysinfo};
//
// run() receives the arguments after the subcommand name and returns an exit code.

#include <string>
#include <vector>

namespace setuptool {

enum ExitCode { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

using SubcommandFn = int (*)(const std::vector<std::string>& args);

struct Subcommand {
    const char* name;
    const char* synopsis;
    const char* summary;
    SubcommandFn run;
};

const std::vector<Subcommand>& AllSubcommands();

struct SubcommandRegistration {
    SubcommandRegistration(const char* name, const char* synopsis, const char* summary, SubcommandFn run);
};

// Prints "usage: setup-tool <synopsis>" for the named subcommand to stderr and returns EXIT_USAGE.
int UsageError(const char* name, const std::string& why = {});

}  // namespace setuptool
