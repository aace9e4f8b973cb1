#include "src/system/ServiceControl.h"

#include <map>
#include <vector>

#include "platform/Process.h"

namespace {

constexpr std::uint32_t kSystemctlTimeoutMs = 10000;
constexpr std::uint32_t kStopPollMs = 500;

struct SystemctlReply {
    int exitCode = -1;
    std::string output;
};

std::optional<SystemctlReply> RunSystemctl(std::vector<std::string> args) {
    args.insert(args.begin(), "systemctl");
    platform::SpawnOptions options;
    options.stdinFromNull = true;  // never ask for a password on the terminal
    options.captureStdout = true;
    platform::SpawnError error;
    auto child = platform::ChildProcess::Start(args, options, error);
    if (!child) return std::nullopt;
    bool complete = false;
    SystemctlReply reply;
    reply.output = child->ReadStdoutFor(kSystemctlTimeoutMs, complete, 16 * 1024);
    if (!complete || child->Wait(kSystemctlTimeoutMs) != platform::ChildProcess::WaitResult::WAIT_EXITED) {
        child->Kill();
        return std::nullopt;
    }
    reply.exitCode = child->ExitCode();
    return reply;
}

std::string UnitName(const std::string& name) { return name + ".service"; }

// "Key=Value" lines of `systemctl show`.
std::map<std::string, std::string> Properties(const std::string& text) {
    std::map<std::string, std::string> props;
    std::size_t pos = 0;
    while (pos < text.size()) {
        auto end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        auto eq = line.find('=');
        if (eq != std::string::npos) props[line.substr(0, eq)] = line.substr(eq + 1);
        pos = end + 1;
    }
    return props;
}

std::optional<std::map<std::string, std::string>> ShowUnit(const std::string& name) {
    // Unit names come from a fixed table, but "--" keeps any name from reading as an option.
    auto reply = RunSystemctl({"show", "--property=LoadState,ActiveState", "--", UnitName(name)});
    if (!reply || reply->exitCode != 0) return std::nullopt;
    return Properties(reply->output);
}

}  // namespace

bool CSystemctlServiceControl::ManagerAvailable() {
    auto reply = RunSystemctl({"show", "--property=Version"});
    return reply && reply->exitCode == 0;
}

bool CSystemctlServiceControl::ServiceExists(const std::string& name) {
    auto props = ShowUnit(name);
    if (!props) return false;
    auto load = props->find("LoadState");
    return load != props->end() && !load->second.empty() && load->second != "not-found";
}

std::optional<ServiceStatus> CSystemctlServiceControl::QueryStatus(const std::string& name) {
    auto props = ShowUnit(name);
    if (!props) return std::nullopt;
    auto active = props->find("ActiveState");
    if (active == props->end() || active->second.empty()) return std::nullopt;
    ServiceStatus status;
    status.waitHintMs = kStopPollMs;
    const std::string& s = active->second;
    if (s == "active" || s == "reloading") status.state = ServiceState::SERVICE_RUNNING;
    else if (s == "activating" || s == "deactivating") status.state = ServiceState::SERVICE_PENDING;
    else status.state = ServiceState::SERVICE_STOPPED;  // inactive, failed, maintenance
    return status;
}

bool CSystemctlServiceControl::RequestStop(const std::string& name) {
    auto reply = RunSystemctl({"stop", "--no-block", "--", UnitName(name)});
    return reply && reply->exitCode == 0;
}
