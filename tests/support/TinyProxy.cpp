#include "tests/support/TinyProxy.h"

#include <fstream>

namespace qvtest {

namespace fs = std::filesystem;

TinyProxy::TinyProxy(fs::path folder, bool refuseEveryone)
    : folder_(std::move(folder)), refuseEveryone_(refuseEveryone), port_(ServerProcess::FreePort()) {
    fs::create_directories(folder_);
    ServerProcess::OpenToServer(folder_);
}

bool TinyProxy::Start(std::string& error) {
    const std::optional<std::string> program = Program();
    if (!program) {
        error = "tinyproxy is not installed";
        return false;
    }
    const fs::path config = folder_ / "tinyproxy.conf";
    std::ofstream out(config);
    out << "Port " << port_ << "\n"
        << "Listen 127.0.0.1\n"
        << "Timeout 60\n"
        << "MaxClients 100\n"
        << "LogFile \"" << (folder_ / "tinyproxy.log").string() << "\"\n"
        << "LogLevel Connect\n";
    // TEST-NET-1: no client of ours comes from there.
    if (refuseEveryone_) out << "Allow 192.0.2.1\n";
    out.close();
    return process_.Start({*program, "-d", "-c", config.string()}, port_, error);
}

std::vector<std::string> TinyProxy::Requests() const {
    std::vector<std::string> requests;
    std::ifstream log(folder_ / "tinyproxy.log");
    static const std::string kMarker = "): ";
    for (std::string line; std::getline(log, line);) {
        if (line.find("Request (file descriptor") == std::string::npos) continue;
        const std::size_t at = line.find(kMarker);
        if (at != std::string::npos) requests.push_back(line.substr(at + kMarker.size()));
    }
    return requests;
}

std::size_t TinyProxy::Refusals() const {
    std::ifstream log(folder_ / "tinyproxy.log");
    std::size_t count = 0;
    for (std::string line; std::getline(log, line);) count += line.find("Unauthorized connection from") != std::string::npos;
    return count;
}

}  // namespace qvtest
