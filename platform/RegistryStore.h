#pragma once
// A small per-machine and per-user key/value store standing in for the Windows
// registry. Each hive is one human-readable text file in the REGEDIT5 ".reg" format.
//
// Key paths ("SOFTWARE\\Vendor\\Product") and value names are case-insensitive (ASCII),
// as on Windows; the case of the first writer is kept in the file. Values are REG_SZ or
// REG_MULTI_SZ holding any UTF-8 text.
//
// Thread and process safety: every call is self-contained. Reads take a shared flock on
// the hive's lock file; updates take an exclusive flock, re-read the file, apply the
// change and replace the file atomically (write temp, fsync, rename), so concurrent
// writers from any number of processes lose nothing and a killed writer leaves either
// the old or the new file. Objects may be shared between threads.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class RegistryHive { LocalMachine, CurrentUser };

enum class RegistryResult {
    REG_RESULT_OK,
    REG_RESULT_KEY_NOT_FOUND,
    REG_RESULT_VALUE_NOT_FOUND,
    REG_RESULT_WRONG_TYPE,
    REG_RESULT_IO_ERROR,
    REG_RESULT_INVALID_ARGUMENT,
};
const char* to_string(RegistryResult result);

class RegistryStore {
public:
    // Folder: QV_REGISTRY_DIR when set; otherwise for LocalMachine
    // /var/lib/quorvane-setup/ when running as root, else $XDG_STATE_HOME/quorvane-setup/
    // (~/.local/state/quorvane-setup/); CurrentUser always the latter.
    explicit RegistryStore(RegistryHive hive);
    RegistryStore(RegistryHive hive, std::filesystem::path folder);

    // The hive file ("HKLM.reg" or "HKCU.reg") inside the folder.
    const std::filesystem::path& FilePath() const { return file_; }

    bool KeyExists(std::string_view key) const;
    std::optional<std::string> GetString(std::string_view key, std::string_view name) const;
    std::optional<std::vector<std::string>> GetMultiString(std::string_view key,
                                                           std::string_view name) const;
    // Like GetString/GetMultiString, but tells why nothing was read.
    RegistryResult ReadString(std::string_view key, std::string_view name, std::string& out) const;

    RegistryResult CreateKey(std::string_view key);  // with all missing parents
    RegistryResult SetString(std::string_view key, std::string_view name, std::string_view value);
    RegistryResult SetMultiString(std::string_view key, std::string_view name,
                                  const std::vector<std::string>& values);
    RegistryResult DeleteValue(std::string_view key, std::string_view name);
    RegistryResult DeleteKey(std::string_view key);  // with its subkeys

private:
    RegistryHive hive_;
    std::filesystem::path folder_;
    std::filesystem::path file_;
};

}  // namespace platform
