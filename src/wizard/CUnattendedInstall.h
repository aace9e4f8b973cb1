#pragma once
// `Setup /S` (or `--silent`): the same install pipeline without any window, for
// administrators and scripts. It reads the configuration like the wizard (service first,
// then the skin's labels), picks the interface language from the locale, installs into
// `/DIR=<folder>` (or the default folder), answers every message box with its default and
// ends with an exit code that names the failure.

#include <string>
#include <vector>

// Exit codes of the unattended install. Stable: scripts test them.
enum UnattendedExit : int {
    UNATTENDED_INSTALLED = 0,        // the product is installed (or, for a plain download, downloaded)
    UNATTENDED_FAILED = 1,           // anything else: no configuration, no download folder, unknown error
    UNATTENDED_USAGE = 2,            // the command line was not understood
    UNATTENDED_NO_NETWORK = 3,       // the machine has no network connection
    UNATTENDED_NO_PROGRESS = 4,      // the download stalled, or a delivery location refused too many requests
    UNATTENDED_BAD_DOWNLOAD = 5,     // the download could not start or ended incomplete
    UNATTENDED_BAD_SIGNATURE = 6,    // the downloaded installer failed its signature check
    UNATTENDED_INSTALL_TIMEOUT = 7,  // the installer did not finish in time (it is left running)
    UNATTENDED_CHECK_FAILED = 8,     // a pre-install check failed: product running, disk space, folder
                                     // (also a download folder that is full or read-only)
    UNATTENDED_INSTALLER_FAILED = 9, // the installer ended with a failure, or left no product executable
};
const char* to_string(UnattendedExit code);

struct UnattendedRequest {
    bool requested = false;   // /S or --silent was given
    bool help = false;        // --help
    std::string installRoot;  // /DIR= or --dir=; empty: the default folder
    std::string error;        // why the command line was refused (usage)
};

// Looks for the unattended switches among the program's arguments.
UnattendedRequest ParseUnattendedArguments(const std::vector<std::string>& args);

// Runs the whole install on the calling thread; returns an UnattendedExit.
int RunUnattendedInstall(const UnattendedRequest& request);

// The usage text, for --help and for a refused command line.
const char* UnattendedUsage();
