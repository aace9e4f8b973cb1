// setup-tool checks: the installer's pre-install checks run by hand, one "key: value" a
// line. Exit 0 when every check asked for passes, 1 when one fails or cannot be answered.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "src/system/PreInstallChecks.h"
#include "Subcommand.h"
#include "platform/Folders.h"
#include "platform/Process.h"
#include "platform/RegistryStore.h"
#include "src/telemetry/IEventReporter.h"

namespace setuptool {
namespace {

// The tool reports nothing anywhere; events are only counted.
class NoEvents : public IEventReporter {
public:
    int ReportEvent(const std::string&, const std::string&, const std::string&, bool) override { return 0; }
};

bool CheckDirectory(const std::string& dir, platform::RegistryStore& hklm) {
    NoEvents events;
    std::vector<MessageKind> shown;
    CPreInstallChecks checks({}, dir, hklm, events, [&](MessageKind k) { shown.push_back(k); });

    bool ok = true;
    auto free = platform::FreeBytesForUser(dir);
    const bool spaceOk = checks.CheckDiskSpace();
    if (dir.front() != '/') {
        std::printf("free space: %s: not an absolute path: fail\n", dir.c_str());
    } else {
        std::printf("free space: %s: %s bytes available, more than %llu needed: %s\n", dir.c_str(),
                    free ? std::to_string(*free).c_str() : "unknown",
                    static_cast<unsigned long long>(CPreInstallChecks::kMinimumFreeBytes), spaceOk ? "pass" : "fail");
    }
    ok = ok && spaceOk;

    if (!checks.IsPendingRenameTarget(dir)) {
        std::printf("pending renames: %s: none\n", dir.c_str());
        return ok;
    }
    std::string alternative;
    for (int n = 1; n <= 1000 && alternative.empty(); ++n) {
        std::string candidate = dir + " " + std::to_string(n);
        if (!checks.IsPendingRenameTarget(candidate)) alternative = candidate;
    }
    std::printf("pending renames: %s: named; the installer would use \"%s\"\n", dir.c_str(),
                alternative.empty() ? "(none free)" : alternative.c_str());
    return false;
}

bool CheckProcess(const std::string& name, platform::RegistryStore& hklm) {
    NoEvents events;
    PreInstallProduct product;
    product.Process_name = name;
    CPreInstallChecks checks(product, "", hklm, events, [](MessageKind) {});
    auto snapshot = platform::SnapshotProcesses();
    if (!snapshot) {
        std::printf("process %s: process list not readable\n", name.c_str());
        return false;
    }
    if (checks.AppIsRunning()) {
        std::printf("process %s: not running\n", name.c_str());
        return true;
    }
    std::string pids;
    for (const auto& p : *snapshot)
        if (p.name == name) pids += (pids.empty() ? "" : " ") + std::to_string(p.pid);
    std::printf("process %s: running (pid %s)\n", name.c_str(), pids.c_str());
    return false;
}

bool CheckNetFrame(const std::string& dir, platform::RegistryStore& hklm) {
    const std::string required = FuntionImpl::ReadNetFrameRequirement(dir);
    const std::string installed = FuntionImpl::InstalledNetFrameVersion(hklm);
    const bool newer = FuntionImpl::WillShowNetFrameCheck(dir, hklm);
    std::printf(".NET requirement: %s: required %s, installed %s: %s\n", dir.c_str(),
                required.empty() ? "(none)" : required.c_str(), installed.empty() ? "(none)" : installed.c_str(),
                newer ? "the product will ask for a newer .NET Framework" : "nothing to ask");
    return !newer;
}

int RunChecks(const std::vector<std::string>& args) {
    std::optional<std::string> dir, process, netframe;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::optional<std::string>* target = nullptr;
        if (args[i] == "--dir") target = &dir;
        else if (args[i] == "--process") target = &process;
        else if (args[i] == "--netframe") target = &netframe;
        else return UsageError("checks", "unexpected argument '" + args[i] + "'");
        if (i + 1 >= args.size() || args[i + 1].empty()) return UsageError("checks", args[i] + " needs a value");
        if (*target) return UsageError("checks", args[i] + " given twice");
        if (args[i + 1].size() > 4096) return UsageError("checks", args[i] + " value is too long");
        *target = args[++i];
    }
    if (!dir && !process && !netframe) return UsageError("checks", "name at least one check");

    platform::RegistryStore hklm(platform::RegistryHive::LocalMachine);
    bool ok = true;
    if (dir) ok = CheckDirectory(*dir, hklm) && ok;
    if (process) ok = CheckProcess(*process, hklm) && ok;
    if (netframe) ok = CheckNetFrame(*netframe, hklm) && ok;
    return ok ? EXIT_OK : EXIT_FAILED;
}

const SubcommandRegistration kRegistration{
    "checks", "checks [--dir DIR] [--process NAME] [--netframe DIR]",
    "free space and pending renames of DIR, a running process, the .NET requirement of DIR", &RunChecks};

}  // namespace
}  // namespace setuptool
