#pragma once
// A small per-machine and per-user key/value store standing in for the Windows
// registry. Each hive is one human-readable text file in the REGEDIT5 ".reg" format.
//
// Key paths ("SOFTWARE\\Vendor\\Product") and value names are case-insensitive (ASCII),
// as on Windows; the case of the first writer is kept in the file. Values are REG_SZ or
// REG_MULTI_SZ holding any UTF-8 text. Values of other types found in a file (dword:,
// hex:, hex(2): ...) are kept as they are and read back as REG_RESULT_WRONG_TYPE.
//
// Thread and process safety: every call is self-contained. Reads take a shared flock on
// the hive's lock file; updates take an exclusive flock, re-read the file, apply the
// change and replace the file atomically (write temp, fsync, rename), so concurrent
// writers from any number of processes lose nothing and a killed writer leaves either
// the old or the new file. Objects may be shared between threads.
//
// A hive file that cannot be parsed is reported once per process (see
// SetRegistryReporter) and treated as empty. It is never silently replaced: the next
// update first keeps it as "<file>.corrupt-<YYYYMMDD-HHMMSS>" beside the hive.
//
// Tests only: QV_REGISTRY_TEST_PAUSE_FILE makes a writer create that file and wait 60 s
// between writing its temporary file and renaming it, so a kill can land there.

#include <cstddef>
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

enum class RegistryValueType { REG_VALUE_SZ, REG_VALUE_MULTI_SZ, REG_VALUE_OTHER };
const char* to_string(RegistryValueType type);  // "REG_SZ", "REG_MULTI_SZ", "REG_OTHER"

struct RegistryValue {
    std::string name;                  // "" is the key's default value ("@" in the file)
    RegistryValueType type = RegistryValueType::REG_VALUE_SZ;
    std::string text;                  // REG_SZ; for other types the data as written in the file
    std::vector<std::string> strings;  // REG_MULTI_SZ, every element kept, empty ones too
};

// Bounds on what the store accepts; anything larger is refused with a message naming the bound.
struct RegistryLimits {
    static constexpr std::size_t kMaxFileBytes = 16u << 20;       // a larger hive file counts as corrupt
    static constexpr std::size_t kMaxKeyPathBytes = 2048;
    static constexpr std::size_t kMaxKeyComponentChars = 255;
    static constexpr std::size_t kMaxValueNameBytes = 16383;
    static constexpr std::size_t kMaxValueBytes = 1u << 20;       // UTF-8 bytes; REG_MULTI_SZ counts one per terminator
};

// Receives the store's diagnostics (a corrupt hive, a kept copy, a refused or failed
// update). Messages begin with a blank, like the process log's. The default writes them
// to standard error; the system helpers route them into the process log. nullptr
// restores the default.
using RegistryReportFn = void (*)(const std::string& message);
void SetRegistryReporter(RegistryReportFn reporter);

class RegistryStore {
public:
    // Folder: QV_REGISTRY_DIR when set; otherwise for LocalMachine
    // /var/lib/quorvane-setup/ when running as root, else $XDG_STATE_HOME/quorvane-setup/
    // (~/.local/state/quorvane-setup/); CurrentUser always the latter.
    explicit RegistryStore(RegistryHive hive);
    RegistryStore(RegistryHive hive, std::filesystem::path folder);

    // The hive file ("HKLM.reg" or "HKCU.reg") inside the folder.
    const std::filesystem::path& FilePath() const { return file_; }
    RegistryHive Hive() const { return hive_; }

    bool KeyExists(std::string_view key) const;  // "" is the hive's root and always exists
    std::optional<std::string> GetString(std::string_view key, std::string_view name) const;
    std::optional<std::vector<std::string>> GetMultiString(std::string_view key,
                                                           std::string_view name) const;
    // Like GetString/GetMultiString, but tells why nothing was read.
    RegistryResult ReadString(std::string_view key, std::string_view name, std::string& out) const;
    RegistryResult ReadMultiString(std::string_view key, std::string_view name,
                                   std::vector<std::string>& out) const;
    // The key's values in file order and the names of its direct subkeys; nullopt when the key is missing.
    std::optional<std::vector<RegistryValue>> ListValues(std::string_view key) const;
    std::optional<std::vector<std::string>> ListSubkeys(std::string_view key) const;

    RegistryResult CreateKey(std::string_view key);  // with all missing parents
    // Both create the key (with its parents) when missing.
    RegistryResult SetString(std::string_view key, std::string_view name, std::string_view value);
    RegistryResult SetMultiString(std::string_view key, std::string_view name,
                                  const std::vector<std::string>& values);
    RegistryResult DeleteValue(std::string_view key, std::string_view name);
    RegistryResult DeleteKey(std::string_view key);  // with its subkeys; the root cannot be deleted

    // Why an argument would be refused; empty when it is acceptable. A trailing "\" of a
    // key path is ignored; a leading one, an empty component, a control character or a
    // component over 255 characters is refused.
    static std::string KeyPathError(std::string_view key);
    static std::string ValueNameError(std::string_view name);
    static std::string ValueError(const std::vector<std::string_view>& texts);

private:
    RegistryHive hive_;
    std::filesystem::path folder_;
    std::filesystem::path file_;
};

}  // namespace platform
