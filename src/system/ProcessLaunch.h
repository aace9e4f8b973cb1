#pragma once
// Starting the installed product, finding its main executable, and running the product
// installer while the wizard shows its progress.

#include <cstdint>
#include <functional>
#include <string>

#include "src/telemetry/IEventReporter.h"

namespace FuntionImpl {

// Starts the product and does not wait for it. `quotedPath` is the executable's full path
// in double quotes; the product runs in the executable's folder. 0 when it started, -1
// when not (logged, and reported as "Other"/"StartWindowError" with the error code).
// Any thread.
int StartTargetMainExe(const std::string& quotedPath, IEventReporter& reporter);
inline int StartTargetMainExe(const std::string& quotedPath) {
    return StartTargetMainExe(quotedPath, DefaultEventReporter());
}

// The first `fileName` below `directory` (which ends with '/'), searching subdirectories
// depth-first in the order the file system lists them; files directly in `directory` are
// not looked at (the caller tried them). Empty when nothing is found. Links to folders
// are looked into but not searched further, so a link loop cannot trap the search.
std::string FindFileInSubdirectories(const std::string& directory, const std::string& fileName);

// The product's main executable for an install directory: the directory with blanks
// trimmed, '/', `processName`; else the first match in its subdirectories. Empty when the
// configuration is not loaded, or when `processName` is not a plain file name.
std::string FindProductExecutable(const std::string& installDirectory, const std::string& processName,
                                  bool configLoaded);

enum class InstallerOutcome { INSTALLER_FINISHED, INSTALLER_TIMED_OUT };
const char* to_string(InstallerOutcome outcome);

struct InstallerWaitResult {
    InstallerOutcome outcome = InstallerOutcome::INSTALLER_TIMED_OUT;
    int waitCount = 0;  // the wait counter when the outcome was decided
    int pid = -1;       // the installer's process id; -1 when it could not be started
    int exitCode = -1;  // its exit status once finished (128 + signal when a signal ended it)
};

// One wait for the installer to end and the pause after an unsuccessful one; tests
// shorten them.
struct InstallerWaitTiming {
    std::uint32_t waitMs = 1000;
    std::uint32_t pauseMs = 1000;
};

// Receives the whole percentage to show: 91, 92 ... 99 while waiting, 100 when the
// installer has ended. Called on the thread that runs the wait.
using InstallerProgressFn = std::function<void(int shown)>;

// Starts `applicationPath` with the switches of `commandLine` (split at blanks, double
// quotes grouping) in the caller's working directory, and waits for it: up to 242 waits
// with a pause after each unsuccessful one. The installer is never killed: after the time
// out it keeps running. An installer that cannot be started at all ends as timed out at
// once, so the caller takes its failure path.
InstallerWaitResult RunInstallerProcessAndWait(const std::string& applicationPath, const std::string& commandLine,
                                               const InstallerProgressFn& progress,
                                               const InstallerWaitTiming& timing = {});

}  // namespace FuntionImpl
