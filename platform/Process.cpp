#include "platform/Process.h"

#include <cstdio>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <utility>

extern char** environ;

namespace platform {
namespace {

constexpr std::size_t kMaxCommandLine = 64 * 1024;

std::string ErrnoText(int code) {
    char buffer[256] = {};
    // GNU strerror_r returns the text, which may or may not live in the buffer.
    return strerror_r(code, buffer, sizeof buffer);
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(fd);
    }
#endif
    (void)pid;
    return -1;  // older kernels: fall back to polling waitpid
}

int DecodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// A child nobody waits for any more must still be reaped, or it lingers as a zombie.
void ReapInBackground(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

std::string BaseName(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// RAII for the spawn attribute objects.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    bool actionsReady = false;
    bool attrReady = false;
    ~SpawnSetup() {
        if (actionsReady) posix_spawn_file_actions_destroy(&actions);
        if (attrReady) posix_spawnattr_destroy(&attr);
    }
};

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> args;
    if (commandLine.size() > kMaxCommandLine) return args;
    std::string current;
    bool inToken = false;
    bool inQuotes = false;
    for (char c : commandLine) {
        if (c == '"') {
            inQuotes = !inQuotes;
            inToken = true;  // "" stands for an empty argument
        } else if ((c == ' ' || c == '\t') && !inQuotes) {
            if (inToken) {
                args.push_back(std::move(current));
                current.clear();
                inToken = false;
            }
        } else {
            current.push_back(c);
            inToken = true;
        }
    }
    if (inToken) args.push_back(std::move(current));
    return args;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept { *this = std::move(other); }

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        Release();
        pid_ = std::exchange(other.pid_, -1);
        pidfd_ = std::exchange(other.pidfd_, -1);
        stdoutFd_ = std::exchange(other.stdoutFd_, -1);
        exited_ = std::exchange(other.exited_, false);
        exitCode_ = std::exchange(other.exitCode_, -1);
    }
    return *this;
}

ChildProcess::~ChildProcess() { Release(); }

void ChildProcess::Release() {
    CloseFd(stdoutFd_);
    CloseFd(pidfd_);
    if (pid_ > 0 && !exited_) ReapInBackground(pid_);
    pid_ = -1;
    exited_ = false;
}

std::optional<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv, const SpawnOptions& options,
                                                SpawnError& error) {
    error = {};
    if (argv.empty() || argv.front().empty()) {
        error = {ENOENT, "cannot start a program with an empty name"};
        return std::nullopt;
    }
    std::size_t total = 0;
    for (const auto& a : argv) {
        total += a.size() + 1;
        if (a.find('\0') != std::string::npos) {
            error = {EINVAL, "cannot start '" + argv.front() + "': an argument contains a NUL character"};
            return std::nullopt;
        }
    }
    if (total > kMaxCommandLine || argv.size() > 4096) {
        error = {E2BIG, "cannot start '" + argv.front() + "': the argument list is too long"};
        return std::nullopt;
    }

    SpawnSetup setup;
    if (posix_spawn_file_actions_init(&setup.actions) != 0 || posix_spawnattr_init(&setup.attr) != 0) {
        error = {ENOMEM, "cannot start '" + argv.front() + "': out of memory"};
        return std::nullopt;
    }
    setup.actionsReady = setup.attrReady = true;

    int pipeFds[2] = {-1, -1};
    if (options.captureStdout) {
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
            int code = errno;
            error = {code, "cannot start '" + argv.front() + "': " + ErrnoText(code)};
            return std::nullopt;
        }
        posix_spawn_file_actions_adddup2(&setup.actions, pipeFds[1], STDOUT_FILENO);
    }
    if (options.stdinFromNull) {
        posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    if (!options.workingDirectory.empty()) {
        posix_spawn_file_actions_addchdir_np(&setup.actions, options.workingDirectory.c_str());
    }

    // The child starts with default signal handling and nothing blocked, whatever this
    // process changed for itself (an ignored SIGPIPE would otherwise be inherited).
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    posix_spawnattr_setsigmask(&setup.attr, &none);
    posix_spawnattr_setsigdefault(&setup.attr, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options.newSession) flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&setup.attr, flags);

    std::vector<char*> cargv;
    cargv.reserve(argv.size() + 1);
    for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);

    pid_t pid = -1;
    int rc = ::posix_spawnp(&pid, cargv[0], &setup.actions, &setup.attr, cargv.data(), environ);
    if (pipeFds[1] >= 0) ::close(pipeFds[1]);
    if (rc != 0) {
        if (pipeFds[0] >= 0) ::close(pipeFds[0]);
        std::string where = options.workingDirectory.empty() ? "" : " in '" + options.workingDirectory + "'";
        error = {rc, "cannot start '" + argv.front() + "'" + where + ": " + ErrnoText(rc)};
        return std::nullopt;
    }

    ChildProcess child;
    child.pid_ = pid;
    child.pidfd_ = OpenPidFd(pid);
    child.stdoutFd_ = pipeFds[0];
    return child;
}

ChildProcess::WaitResult ChildProcess::Wait(std::uint32_t timeoutMs) {
    if (pid_ <= 0) return WaitResult::WAIT_FAILED;
    if (exited_) return WaitResult::WAIT_EXITED;

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            exited_ = true;
            exitCode_ = DecodeStatus(status);
            return WaitResult::WAIT_EXITED;
        }
        if (r < 0 && errno != EINTR) return WaitResult::WAIT_FAILED;

        auto now = Clock::now();
        if (now >= deadline) return WaitResult::WAIT_TIMED_OUT;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        if (pidfd_ >= 0) {
            pollfd p{pidfd_, POLLIN, 0};
            int ms = static_cast<int>(std::min<long long>(left + 1, INT_MAX));
            if (::poll(&p, 1, ms) < 0 && errno != EINTR) {
                CloseFd(pidfd_);  // keep going by polling
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(left, 10)));
        }
    }
}

ChildProcess::WaitResult ChildProcess::WaitForever() {
    if (pid_ <= 0) return WaitResult::WAIT_FAILED;
    if (exited_) return WaitResult::WAIT_EXITED;
    int status = 0;
    pid_t r;
    while ((r = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    if (r != pid_) return WaitResult::WAIT_FAILED;
    exited_ = true;
    exitCode_ = DecodeStatus(status);
    return WaitResult::WAIT_EXITED;
}

std::string ChildProcess::ReadAllStdout(std::size_t maxBytes) {
    bool complete = false;
    return ReadOutput(-1, complete, maxBytes);
}

std::string ChildProcess::ReadStdoutFor(std::uint32_t timeoutMs, bool& complete, std::size_t maxBytes) {
    return ReadOutput(static_cast<long long>(timeoutMs), complete, maxBytes);
}

std::string ChildProcess::ReadOutput(long long timeoutMs, bool& complete, std::size_t maxBytes) {
    std::string out;
    complete = false;
    if (stdoutFd_ < 0) return out;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    char buffer[4096];
    for (;;) {
        if (timeoutMs >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return out;  // the pipe stays open; the rest is never read
            pollfd p{stdoutFd_, POLLIN, 0};
            int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
            if (ready < 0 && errno != EINTR) break;
            if (ready <= 0) continue;
        }
        ssize_t n = ::read(stdoutFd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::size_t room = maxBytes > out.size() ? maxBytes - out.size() : 0;
        out.append(buffer, std::min<std::size_t>(room, static_cast<std::size_t>(n)));
    }
    complete = true;
    CloseFd(stdoutFd_);
    return out;
}

bool ChildProcess::Kill() {
    if (pid_ <= 0 || exited_) return false;
    return ::kill(pid_, SIGKILL) == 0;
}

std::optional<int> StartDetached(const std::vector<std::string>& argv, const std::string& workingDirectory,
                                 SpawnError& error) {
    SpawnOptions options;
    options.workingDirectory = workingDirectory;
    options.stdinFromNull = true;
    options.newSession = true;
    auto child = ChildProcess::Start(argv, options, error);
    if (!child) return std::nullopt;
    return child->Pid();  // the ChildProcess going away hands the pid to the reaper
}

std::optional<std::vector<ProcessEntry>> SnapshotProcesses() {
    DIR* dir = ::opendir("/proc");
    if (dir == nullptr) return std::nullopt;
    std::vector<ProcessEntry> entries;
    while (dirent* d = ::readdir(dir)) {
        const char* n = d->d_name;
        if (*n == '\0' || std::strspn(n, "0123456789") != std::strlen(n) || std::strlen(n) > 9) continue;
        ProcessEntry entry;
        entry.pid = std::atoi(n);
        std::string base = std::string("/proc/") + n;

        char target[4096];
        ssize_t len = ::readlink((base + "/exe").c_str(), target, sizeof target - 1);
        if (len > 0) {
            std::string path(target, static_cast<std::size_t>(len));
            static constexpr std::string_view kDeleted = " (deleted)";
            if (path.size() > kDeleted.size() && path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
                path.resize(path.size() - kDeleted.size());
            entry.name = BaseName(path);
        } else {
            std::ifstream cmdline(base + "/cmdline", std::ios::binary);
            std::string first;
            if (cmdline && std::getline(cmdline, first, '\0')) {
                if (first.size() > 4096) first.resize(4096);
                entry.name = BaseName(first);
            }
        }
        if (!entry.name.empty()) entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    return entries;
}

bool ProcessIsAlive(int pid) {
    if (pid <= 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!stat || !std::getline(stat, line)) return false;
    auto paren = line.rfind(')');
    if (paren == std::string::npos || paren + 2 >= line.size()) return false;
    char state = line[paren + 2];
    return state != 'Z' && state != 'X';
}

bool KillProcess(int pid) { return pid > 0 && ::kill(pid, SIGKILL) == 0; }

int CurrentProcessId() { return static_cast<int>(::getpid()); }

void EndProcessNow(int code) {
    std::fflush(nullptr);
    std::_Exit(code);
}

}  // namespace platform
