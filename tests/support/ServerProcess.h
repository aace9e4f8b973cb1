#pragma once
// A server program from the system (nginx, apache2, lighttpd, tinyproxy) run in the
// foreground by a test, listening on 127.0.0.1. When the tests run as root it is started
// as "nobody" (setpriv), so that it never holds privileges the test did not mean to give;
// the folders it writes to must then be writable by everyone.
//
// Stop() asks it to end with the given signal (SIGTERM unless the server wants another
// for a shutdown that writes its logs) and kills it if it has not ended after a few
// seconds. The destructor stops it.

#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Process.h"

namespace qvtest {

class ServerProcess {
public:
    ServerProcess() = default;
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // A port on 127.0.0.1 that nothing listened on a moment ago.
    static int FreePort();
    // The program's full path when it is installed (PATH, then /usr/sbin and /sbin).
    static std::optional<std::string> FindProgram(const std::string& name);
    // Lets an unprivileged server write into `folder` (when the tests run as root).
    static void OpenToServer(const std::filesystem::path& folder);

    // Starts argv and waits until 127.0.0.1:port accepts connections. False, with the
    // reason in `error`, when the program cannot start, ends early or never listens.
    bool Start(const std::vector<std::string>& argv, int port, std::string& error);
    void Stop(int signal = SIGTERM);
    bool Running() const { return child_.has_value(); }

private:
    std::optional<platform::ChildProcess> child_;
};

// Whether 127.0.0.1:port accepts a connection within timeoutMs.
bool PortAccepts(int port, int timeoutMs);

}  // namespace qvtest
