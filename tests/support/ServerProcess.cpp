#include "tests/support/ServerProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <thread>

namespace qvtest {

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

bool PortAccepts(int port, int timeoutMs) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const sockaddr_in address = Loopback(port);
    bool accepted = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (!accepted && errno == EINPROGRESS) {
        pollfd wait{fd, POLLOUT, 0};
        if (::poll(&wait, 1, timeoutMs) == 1) {
            int error = 0;
            socklen_t length = sizeof error;
            accepted = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
        }
    }
    ::close(fd);
    return accepted;
}

int ServerProcess::FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in address = Loopback(0);
    int port = 0;
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

std::optional<std::string> ServerProcess::FindProgram(const std::string& name) {
    std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    path += ":/usr/sbin:/sbin";
    std::istringstream folders(path);
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (folder.empty()) continue;
        const std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

void ServerProcess::OpenToServer(const std::filesystem::path& folder) {
    if (::geteuid() != 0) return;
    std::error_code ignored;
    std::filesystem::permissions(folder, std::filesystem::perms::all, ignored);
}

bool ServerProcess::Start(const std::vector<std::string>& argv, int port, std::string& error) {
    Stop();
    std::vector<std::string> command;
    if (::geteuid() == 0) command = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
    command.insert(command.end(), argv.begin(), argv.end());
    platform::SpawnOptions options;
    options.stdinFromNull = true;
    platform::SpawnError spawnError;
    child_ = platform::ChildProcess::Start(command, options, spawnError);
    if (!child_) {
        error = argv.front() + " did not start: " + spawnError.message;
        return false;
    }
    // A server on a loaded machine may take a few seconds to come up; one that exits has
    // said why on its standard error or in its error log.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (child_->Wait(0) == platform::ChildProcess::WaitResult::WAIT_EXITED) {
            error = argv.front() + " ended at once with code " + std::to_string(child_->ExitCode());
            child_.reset();
            return false;
        }
        if (PortAccepts(port, 200)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    error = argv.front() + " never listened on port " + std::to_string(port);
    Stop();
    return false;
}

void ServerProcess::Stop(int signal) {
    if (!child_) return;
    if (child_->Wait(0) != platform::ChildProcess::WaitResult::WAIT_EXITED) {
        ::kill(child_->Pid(), signal);
        if (child_->Wait(10000) != platform::ChildProcess::WaitResult::WAIT_EXITED) {
            child_->Kill();
            child_->Wait(5000);
        }
    }
    child_.reset();
}

ServerProcess::~ServerProcess() { Stop(); }

}  // namespace qvtest
