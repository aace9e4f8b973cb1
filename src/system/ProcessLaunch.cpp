#include "src/system/ProcessLaunch.h"

#include "platform/ProcessLogger.h"
#include "platform/Clock.h"
#include "platform/Folders.h"
#include "platform/Process.h"
#include "src/telemetry/IEventReporter.h"

namespace FuntionImpl {
namespace {

// Deep enough for any real install tree; a bound so that odd trees cannot exhaust the stack.
constexpr int kMaxSearchDepth = 64;
// The installer may run this many one-second waits beyond the first before it counts as
// timed out (242 waits in all, about eight minutes).
constexpr int kMaxInstallerWaits = 240;

std::string WithTrailingSlash(std::string path) {
    if (path.empty() || path.back() != '/') path.push_back('/');
    return path;
}

std::string FindBelow(const std::string& directory, const std::string& fileName, int depth) {
    if (depth > kMaxSearchDepth) return {};
    auto entries = platform::ListDirectory(directory);
    if (!entries) return {};
    for (const auto& entry : *entries) {
        const std::string sub = directory + entry.name + "/";
        if (entry.isDirectory || (entry.isSymlink && platform::DirectoryExists(sub))) {
            std::string candidate = sub + fileName;
            if (platform::FileExists(candidate)) return candidate;
            if (entry.isSymlink) continue;
            std::string found = FindBelow(sub, fileName, depth + 1);
            if (!found.empty()) return found;
        }
    }
    return {};
}

}  // namespace

const char* to_string(InstallerOutcome outcome) {
    switch (outcome) {
        case InstallerOutcome::INSTALLER_FINISHED: return "finished";
        case InstallerOutcome::INSTALLER_TIMED_OUT: return "timed out";
    }
    return "unknown";
}

int StartTargetMainExe(const std::string& quotedPath, IEventReporter& reporter) {
    // The product runs in its own folder: what lies between the opening quote and the
    // last separator, separator included.
    std::string workingDirectory;
    const std::size_t begin = !quotedPath.empty() && quotedPath.front() == '"' ? 1 : 0;
    const std::size_t lastSlash = quotedPath.find_last_of('/');
    if (lastSlash != std::string::npos && lastSlash >= begin)
        workingDirectory = quotedPath.substr(begin, lastSlash - begin + 1);

    platform::SpawnError error;
    auto pid = platform::StartDetached(platform::SplitCommandLine(quotedPath), workingDirectory, error);
    if (pid) return 0;

    LOG(INFO) << "CreateProcess failed (" << error.code << ")";
    LOG(INFO) << " " << error.message;
    reporter.ReportEvent("Other", "StartWindowError", std::to_string(error.code), false);
    return -1;
}

std::string FindFileInSubdirectories(const std::string& directory, const std::string& fileName) {
    if (directory.empty() || fileName.empty()) return {};
    return FindBelow(WithTrailingSlash(directory), fileName, 0);
}

std::string FindProductExecutable(const std::string& installDirectory, const std::string& processName,
                                  bool configLoaded) {
    const auto first = installDirectory.find_first_not_of(" \t");
    const auto last = installDirectory.find_last_not_of(" \t");
    std::string directory = first == std::string::npos ? std::string() : installDirectory.substr(first, last - first + 1);
    directory = WithTrailingSlash(directory);
    if (!configLoaded) return {};
    // The name comes from the web service: it must not lead out of the install directory.
    if (processName.empty() || processName == "." || processName == ".." ||
        processName.find('/') != std::string::npos)
        return {};
    std::string candidate = directory + processName;
    if (platform::FileExists(candidate)) return candidate;
    return FindFileInSubdirectories(directory, processName);
}

InstallerWaitResult RunInstallerProcessAndWait(const std::string& applicationPath, const std::string& commandLine,
                                               const InstallerProgressFn& progress,
                                               const InstallerWaitTiming& timing) {
    InstallerWaitResult result;
    // A freshly downloaded file has no execute bit.
    platform::MakeExecutable(applicationPath);
    std::vector<std::string> argv{applicationPath};
    for (auto& arg : platform::SplitCommandLine(commandLine)) argv.push_back(std::move(arg));

    platform::SpawnError error;
    auto installer = platform::ChildProcess::Start(argv, {}, error);
    if (!installer) {
        // Nothing to wait for: the caller shows the time-out failure right away.
        LOG(INFO) << " Cmd start failed (" << error.code << "): " << error.message;
        result.outcome = InstallerOutcome::INSTALLER_TIMED_OUT;
        return result;
    }
    result.pid = installer->Pid();

    int waitCount = 0;
    float increment = 0.0f;
    for (;;) {
        if (installer->Wait(timing.waitMs) != platform::ChildProcess::WaitResult::WAIT_TIMED_OUT) break;
        if (waitCount > kMaxInstallerWaits) {
            LOG(INFO) << " Cmd nWaitSeconds timed out: " << waitCount;
            result.outcome = InstallerOutcome::INSTALLER_TIMED_OUT;
            result.waitCount = waitCount;
            return result;  // the installer keeps running
        }
        // Single-precision steps of one, then a tenth of what is left to 10: 91..99, then
        // 99 for as long as it takes (the sum never reaches 10).
        if (increment >= 9.0f) increment += (10.0 - increment) / 10.0;
        else increment += 1.0f;
        const int shown = static_cast<int>(90.0 + increment);
        if (progress) progress(shown);
        if (timing.pauseMs > 0) platform::SleepMs(timing.pauseMs);
        ++waitCount;
    }
    LOG(INFO) << " Cmd Finished, nWaitSeconds: " << waitCount;
    if (progress) progress(100);
    result.outcome = InstallerOutcome::INSTALLER_FINISHED;
    result.exitCode = installer->Exited() ? installer->ExitCode() : -1;
    result.waitCount = waitCount;
    return result;
}

}  // namespace FuntionImpl
