#pragma once
// Runs a command line through the shell for tests that drive the project's programs
// (setup-tool above all) as a user would, and collects what it prints.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace qvtest {

struct ShellResult {
    int exitCode = -1;  // -1 when the shell could not start or the command ended on a signal
    std::string out;
    std::string err;    // only when collected apart from the output
};

// Collects the command's standard output; end the line with "2>&1" to collect its errors too.
inline ShellResult RunShellCommand(const std::string& commandLine) {
    ShellResult run;
    std::FILE* pipe = popen(commandLine.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Collects standard output and standard error apart, through the files out.txt and
// err.txt in `folder`, which must exist.
inline ShellResult RunShellCommand(const std::string& commandLine, const std::filesystem::path& folder) {
    const std::filesystem::path out = folder / "out.txt", err = folder / "err.txt";
    const int status = std::system((commandLine + " >'" + out.string() + "' 2>'" + err.string() + "'").c_str());
    auto read = [](const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    ShellResult run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = read(out);
    run.err = read(err);
    return run;
}

}  // namespace qvtest
