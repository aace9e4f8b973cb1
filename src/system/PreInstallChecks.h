#pragma once
// The checks the wizard runs before an install starts (product not running, room on the
// disk, a usable install directory, the product's service stopped), the product's
// uninstall values, and the .NET requirement check before the product is started.
//
// Thread: all checks run on the window thread; the object is not shared.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "src/system/ServiceControl.h"
#include "src/system/MessageKind.h"
#include "platform/Process.h"
#include "platform/RegistryStore.h"
#include "src/telemetry/IEventReporter.h"

// The product configuration fields the checks use.
struct PreInstallProduct {
    std::string Process_name;   // executable file name of the product
    std::string Software_name;  // display name; names the uninstall key
    int Software_id = 0;        // picks the service to stop
};

// Where the checks get their facts; empty members ask this machine.
struct PreInstallSources {
    std::function<std::optional<std::uint64_t>(const std::string& directory)> freeSpace;  // platform::FreeBytesForUser
    std::function<std::optional<std::vector<platform::ProcessEntry>>()> snapshot;         // platform::SnapshotProcesses
    IServiceControl* services = nullptr;  // systemctl
    std::uint32_t maxServiceStopWaitMs = 30000;
};

class CPreInstallChecks {
public:
    // More free bytes than this are needed for an install, whatever the product's size.
    static constexpr std::uint64_t kMinimumFreeBytes = 314572800;  // 300 MiB

    using MessageFn = std::function<void(MessageKind)>;  // shows a box of that kind, modally
    using Sources = PreInstallSources;

    CPreInstallChecks(PreInstallProduct product, std::string installDirectory, platform::RegistryStore& localMachine,
                      IEventReporter& reporter, MessageFn showMessage, Sources sources = {});

    // The install directory: as given, and after PrepareInstallDirectory the one to use.
    const std::string& InstallDirectory() const { return installDirectory_; }
    void SetInstallDirectory(std::string directory) { installDirectory_ = std::move(directory); }

    // False (after AppExist) when a process named exactly Process_name runs; false without
    // a message when the process list cannot be read.
    bool AppIsRunning();
    // False (after NoEnoughSpace) unless the install directory is an absolute path on a
    // file system with more than kMinimumFreeBytes free for this user.
    bool CheckDiskSpace();
    // CheckDiskSpace, then creates the install directory (PathError when it cannot), and
    // moves to "<dir> 1", "<dir> 2" ... while the directory is named in pending renames.
    bool PrepareInstallDirectory();
    // True when a pending rename names something inside `directory`.
    bool IsPendingRenameTarget(const std::string& directory) const;
    // 0 nothing to stop or stopped, 1 no service manager, 2 no such service, 3 status not
    // read, 4 stop refused.
    int StopProductService();

    // A value under the product's uninstall key (at most 129 characters).
    std::optional<std::string> ReadUninstallValue(const std::string& name) const;
    bool WriteUninstallValue(const std::string& name, const std::string& text);

    // The service stopped for a product number; empty for none.
    static std::string ServiceNameFor(int softwareId);

private:
    std::string UninstallKey() const;

    PreInstallProduct product_;
    std::string installDirectory_;
    platform::RegistryStore& localMachine_;
    IEventReporter& reporter_;
    MessageFn showMessage_;
    Sources sources_;
};

namespace FuntionImpl {

// The required .NET Framework 4 version named in "<directory>/NetFrameCheck.db"; empty when
// the file is missing, unreadable or names none in its [Settings] section.
std::string ReadNetFrameRequirement(const std::string& installDirectory);
// Compares dotted versions as four integers: <0, 0 or >0.
int CompareFourPartVersions(const std::string& a, const std::string& b);
// The installed .NET Framework 4 version from the registry; empty when none.
std::string InstalledNetFrameVersion(const platform::RegistryStore& localMachine);
// True when the product will first ask for a newer .NET Framework 4 than the machine has.
bool WillShowNetFrameCheck(const std::string& installDirectory, const platform::RegistryStore& localMachine);
bool WillShowNetFrameCheck(const std::string& installDirectory);

}  // namespace FuntionImpl
