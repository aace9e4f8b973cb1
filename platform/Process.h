#pragma once
// Child processes: starting, waiting with a time-out, detached starts, and a snapshot of
// the processes running on this machine.
//
// A ChildProcess never kills its child: an installer that outlives the wait keeps running.
// Whatever is left unreaped when the object goes away is reaped by a background thread, so
// no zombie stays behind.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Splits a command line into arguments: blanks (spaces and tabs) separate, double quotes
// group and are removed, backslashes are ordinary characters. A quoted empty string ("")
// is an empty argument. Command lines longer than 64 KiB give no arguments.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

struct SpawnOptions {
    std::string workingDirectory;  // empty: the caller's
    bool stdinFromNull = false;    // helpers that must never wait for keyboard input
    bool captureStdout = false;    // read it back with ReadAllStdout()
    bool newSession = false;       // detach from our terminal and process group
};

// Why a start failed: the errno-style code and a readable text.
struct SpawnError {
    int code = 0;
    std::string message;
};

class ChildProcess {
public:
    enum class WaitResult { WAIT_EXITED, WAIT_TIMED_OUT, WAIT_FAILED };

    ChildProcess() = default;
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();  // does not kill; reaps in the background if still running

    // argv[0] is looked up in PATH when it has no '/'. Returns nullopt and fills `error`
    // when the program cannot be started (missing, not executable, bad working directory).
    static std::optional<ChildProcess> Start(const std::vector<std::string>& argv, const SpawnOptions& options,
                                             SpawnError& error);

    int Pid() const { return pid_; }
    bool Exited() const { return exited_; }
    // Exit status when it ended normally; 128 + signal number when a signal ended it.
    int ExitCode() const { return exitCode_; }

    // Waits up to timeoutMs for the child to end (0 = just look).
    WaitResult Wait(std::uint32_t timeoutMs);
    // Waits for as long as it takes.
    WaitResult WaitForever();

    // Everything the child wrote to standard output, up to maxBytes (the rest is drained
    // and dropped). Only with captureStdout; blocks until the child closes its output.
    std::string ReadAllStdout(std::size_t maxBytes = 64 * 1024);
    // The same, but gives up after timeoutMs; `complete` tells whether the output ended.
    std::string ReadStdoutFor(std::uint32_t timeoutMs, bool& complete, std::size_t maxBytes = 64 * 1024);

    // Sends SIGKILL. The system itself never does this; tests and tools clean up with it.
    bool Kill();

private:
    void Release();
    std::string ReadOutput(long long timeoutMs, bool& complete, std::size_t maxBytes);  // -1: no limit

    int pid_ = -1;
    int pidfd_ = -1;
    int stdoutFd_ = -1;
    bool exited_ = false;
    int exitCode_ = -1;
};

// Starts a program that is not waited for (the installed product, the shell's helpers).
// It gets its own session and is reaped in the background. Returns its pid, or nullopt
// with `error` filled.
std::optional<int> StartDetached(const std::vector<std::string>& argv, const std::string& workingDirectory,
                                 SpawnError& error);

struct ProcessEntry {
    int pid = 0;
    std::string name;  // base name of the executable
};

// Every process this user can see, with its executable's base name from /proc/<pid>/exe,
// or from the first word of /proc/<pid>/cmdline when exe cannot be read (other users'
// processes). Processes without either are left out. nullopt when /proc cannot be listed.
std::optional<std::vector<ProcessEntry>> SnapshotProcesses();

// True while the process exists and is not a zombie.
bool ProcessIsAlive(int pid);
// SIGKILL to a process by id (tests and tools; the installer never kills anything).
bool KillProcess(int pid);
// The calling process's id.
int CurrentProcessId();
// Ends the process at once with `code`, flushing only the standard streams: for when other
// threads still run and no static destructor may run under them.
[[noreturn]] void EndProcessNow(int code);

}  // namespace platform
