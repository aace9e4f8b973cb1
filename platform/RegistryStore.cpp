#include "platform/RegistryStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "platform/FileLock.h"
#include "platform/RegistryHiveText.h"

namespace platform {
namespace {

constexpr std::size_t kMaxMultiStringElements = 65536;

std::atomic<RegistryReportFn> g_reporter{nullptr};

void Report(const std::string& message) {
    if (RegistryReportFn reporter = g_reporter.load()) {
        reporter(message);
    } else {
        std::fprintf(stderr, "%s\n", message.c_str());
    }
}

std::string ErrnoText(const char* what, const std::filesystem::path& path) {
    return std::string(what) + " " + path.string() + ": " + std::strerror(errno);
}

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Close(); }
    int get() const { return fd_; }
    bool Close() {
        int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

std::filesystem::path HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir) {
        return found->pw_dir;
    }
    return "/tmp";
}

std::filesystem::path DefaultFolder(RegistryHive hive) {
    if (const char* dir = std::getenv("QV_REGISTRY_DIR"); dir && *dir) return dir;
    if (hive == RegistryHive::LocalMachine && ::geteuid() == 0) return "/var/lib/quorvane-setup";
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/') {
        return std::filesystem::path(state) / "quorvane-setup";
    }
    return HomeFolder() / ".local" / "state" / "quorvane-setup";
}

enum class LoadStatus { Loaded, Missing, Corrupt, IoError };

// Reads and parses the hive file. `identity` names this version of the file so that a
// corrupt one is reported once, however often it is read.
LoadStatus LoadHive(const std::filesystem::path& file, RegistryHiveText& hive, std::string& error,
                    std::string& identity) {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) return LoadStatus::Missing;
        error = ErrnoText("cannot open", file);
        return LoadStatus::IoError;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        error = ErrnoText("cannot inspect", file);
        return LoadStatus::IoError;
    }
    identity = file.string() + ":" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
               std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
               std::to_string(st.st_mtim.tv_nsec);
    if (static_cast<std::uint64_t>(st.st_size) > RegistryLimits::kMaxFileBytes) {
        error = "file is larger than " + std::to_string(RegistryLimits::kMaxFileBytes) + " bytes";
        return LoadStatus::Corrupt;
    }
    std::string text;
    char buffer[65536];
    while (true) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = ErrnoText("cannot read", file);
            return LoadStatus::IoError;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > RegistryLimits::kMaxFileBytes) {
            error = "file is larger than " + std::to_string(RegistryLimits::kMaxFileBytes) + " bytes";
            return LoadStatus::Corrupt;
        }
    }
    return hive.Parse(text, error) ? LoadStatus::Loaded : LoadStatus::Corrupt;
}

void ReportCorruptOnce(const std::string& identity, const std::filesystem::path& file, const std::string& error) {
    static std::mutex mutex;
    static std::set<std::string> reported;
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (!reported.insert(identity).second) return;
    }
    Report(" Registry file is corrupt and is treated as empty: " + file.string() + " (" + error + ")");
}

std::string StampNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return stamp;
}

// Keeps the corrupt file under a new name before an update replaces it. Called with the
// exclusive lock held.
bool KeepCorruptCopy(const std::filesystem::path& file) {
    const std::string base = file.string() + ".corrupt-" + StampNow();
    for (int n = 0; n < 100; ++n) {
        std::string copy = n == 0 ? base : base + "-" + std::to_string(n);
        if (::link(file.c_str(), copy.c_str()) == 0) {
            Report(" Kept the corrupt registry file as: " + copy);
            return true;
        }
        if (errno == EEXIST) continue;
        // Hard links are not available everywhere; fall back to copying the bytes.
        std::error_code ec;
        if (std::filesystem::copy_file(file, copy, std::filesystem::copy_options::none, ec)) {
            Report(" Kept the corrupt registry file as: " + copy);
            return true;
        }
        if (std::filesystem::exists(copy)) continue;
        Report(" Cannot keep a copy of the corrupt registry file " + file.string() + ": " + ec.message());
        return false;
    }
    Report(" Cannot keep a copy of the corrupt registry file " + file.string() + ": too many copies");
    return false;
}

// Test hook: when QV_REGISTRY_TEST_PAUSE_FILE is set, a writer creates that file once the
// new hive text is durable under its temporary name and then waits 60 s before renaming
// it into place, so that a test can kill the writer at exactly that point.
void PauseBeforeReplaceForTests() {
    const char* marker = std::getenv("QV_REGISTRY_TEST_PAUSE_FILE");
    if (!marker || !*marker) return;
    UniqueFd fd(::open(marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    std::this_thread::sleep_for(std::chrono::seconds(60));
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Writes `text` to a temporary file beside `file`, makes it durable and renames it over
// `file`, so readers and a later writer see either the old or the new file whole.
bool ReplaceFile(const std::filesystem::path& file, std::string_view text, unsigned mode, std::string& error) {
    const std::filesystem::path temp = file.string() + ".tmp-" + std::to_string(::getpid());
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, static_cast<mode_t>(mode)));
    if (fd.get() < 0) {
        error = ErrnoText("cannot create", temp);
        return false;
    }
    auto fail = [&](const char* what, const std::filesystem::path& path) {
        error = ErrnoText(what, path);
        ::unlink(temp.c_str());
        return false;
    };
    if (!WriteAll(fd.get(), text)) return fail("cannot write", temp);
    if (::fsync(fd.get()) != 0) return fail("cannot flush", temp);
    if (!fd.Close()) return fail("cannot close", temp);
    PauseBeforeReplaceForTests();
    if (::rename(temp.c_str(), file.c_str()) != 0) return fail("cannot replace", file);
    // The rename itself must survive a power loss too.
    UniqueFd dir(::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
}

// Temporary files left by killed writers; only called with the exclusive lock held, when
// no other writer can be half-way.
void RemoveStaleTemporaries(const std::filesystem::path& file) {
    const std::string prefix = file.filename().string() + ".tmp-";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path(), ec)) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0) {
            std::error_code ignored;
            std::filesystem::remove(entry.path(), ignored);
        }
    }
}

bool HasControlCharacter(std::string_view s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    }
    return false;
}


}  // namespace

const char* to_string(RegistryResult result) {
    switch (result) {
        case RegistryResult::REG_RESULT_OK: return "ok";
        case RegistryResult::REG_RESULT_KEY_NOT_FOUND: return "key not found";
        case RegistryResult::REG_RESULT_VALUE_NOT_FOUND: return "value not found";
        case RegistryResult::REG_RESULT_WRONG_TYPE: return "value has another type";
        case RegistryResult::REG_RESULT_IO_ERROR: return "registry file cannot be read or written";
        case RegistryResult::REG_RESULT_INVALID_ARGUMENT: return "invalid argument";
    }
    return "unknown";
}

const char* to_string(RegistryValueType type) {
    switch (type) {
        case RegistryValueType::REG_VALUE_SZ: return "REG_SZ";
        case RegistryValueType::REG_VALUE_MULTI_SZ: return "REG_MULTI_SZ";
        case RegistryValueType::REG_VALUE_OTHER: return "REG_OTHER";
    }
    return "unknown";
}

void SetRegistryReporter(RegistryReportFn reporter) { g_reporter.store(reporter); }

RegistryStore::RegistryStore(RegistryHive hive) : RegistryStore(hive, DefaultFolder(hive)) {}

RegistryStore::RegistryStore(RegistryHive hive, std::filesystem::path folder)
    : hive_(hive),
      folder_(std::move(folder)),
      file_(folder_ / (hive == RegistryHive::LocalMachine ? "HKLM.reg" : "HKCU.reg")) {}

std::string RegistryStore::KeyPathError(std::string_view key) {
    if (!key.empty() && key.front() == '\\') return "key path begins with '\\'";
    while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
    if (key.size() > RegistryLimits::kMaxKeyPathBytes) {
        return "key path is longer than " + std::to_string(RegistryLimits::kMaxKeyPathBytes) + " bytes";
    }
    if (!IsValidUtf8(key)) return "key path is not UTF-8 text";
    if (HasControlCharacter(key)) return "key path holds a control character";
    std::size_t start = 0;
    while (start < key.size()) {
        std::size_t end = key.find('\\', start);
        if (end == std::string_view::npos) end = key.size();
        if (end == start) return "key path has an empty component";
        if (CountCodePoints(key.substr(start, end - start)) > RegistryLimits::kMaxKeyComponentChars) {
            return "key name is longer than " + std::to_string(RegistryLimits::kMaxKeyComponentChars) + " characters";
        }
        start = end + 1;
    }
    return {};
}

std::string RegistryStore::ValueNameError(std::string_view name) {
    if (name.size() > RegistryLimits::kMaxValueNameBytes) {
        return "value name is longer than " + std::to_string(RegistryLimits::kMaxValueNameBytes) + " bytes";
    }
    if (!IsValidUtf8(name)) return "value name is not UTF-8 text";
    if (HasControlCharacter(name)) return "value name holds a control character";
    return {};
}

std::string RegistryStore::ValueError(const std::vector<std::string_view>& texts) {
    if (texts.size() > kMaxMultiStringElements) {
        return "more than " + std::to_string(kMaxMultiStringElements) + " strings in one value";
    }
    std::size_t total = 0;
    for (std::string_view text : texts) {
        total += text.size();
        if (!IsValidUtf8(text)) return "value is not UTF-8 text";
        if (text.find('\0') != std::string_view::npos) return "value holds a NUL character";
    }
    if (total > RegistryLimits::kMaxValueBytes) {
        return "value is longer than " + std::to_string(RegistryLimits::kMaxValueBytes) + " bytes";
    }
    return {};
}

namespace {

// Reads the hive under a shared lock. A missing or corrupt file reads as an empty hive;
// false only when the file exists but cannot be read.
bool ReadHive(RegistryHive hive, const std::filesystem::path& file, RegistryHiveText& out) {
    std::string error;
    // Writers replace the file by rename, so a reader that cannot take the lock (a
    // read-only folder, or no folder yet) still sees one whole version.
    auto lock = FileLock::Acquire(file.string() + ".lock", FileLock::Mode::Shared,
                                  hive == RegistryHive::CurrentUser ? 0600 : 0644, error);
    std::string identity;
    switch (LoadHive(file, out, error, identity)) {
        case LoadStatus::Loaded:
        case LoadStatus::Missing: return true;
        case LoadStatus::Corrupt: ReportCorruptOnce(identity, file, error); return true;
        case LoadStatus::IoError: Report(" Registry file cannot be read: " + error); return false;
    }
    return false;
}

using Change = std::function<RegistryResult(RegistryHiveText&, bool& changed)>;

RegistryResult UpdateHive(RegistryHive hive, const std::filesystem::path& file, const Change& change) {
    const unsigned mode = hive == RegistryHive::CurrentUser ? 0600 : 0644;
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    if (ec) {
        Report(" Registry folder cannot be created: " + file.parent_path().string() + ": " + ec.message());
        return RegistryResult::REG_RESULT_IO_ERROR;
    }
    std::string error;
    auto lock = FileLock::Acquire(file.string() + ".lock", FileLock::Mode::Exclusive, mode, error);
    if (!lock) {
        Report(" Registry update failed: " + error);
        return RegistryResult::REG_RESULT_IO_ERROR;
    }
    RemoveStaleTemporaries(file);

    RegistryHiveText text(hive);
    std::string identity;
    const LoadStatus status = LoadHive(file, text, error, identity);
    if (status == LoadStatus::IoError) {
        // Never replace a file whose contents we could not see.
        Report(" Registry update failed: " + error);
        return RegistryResult::REG_RESULT_IO_ERROR;
    }
    if (status == LoadStatus::Corrupt) ReportCorruptOnce(identity, file, error);

    bool changed = false;
    RegistryResult result = change(text, changed);
    if (result != RegistryResult::REG_RESULT_OK || !changed) return result;

    const std::string serialized = text.Serialize();
    if (serialized.size() > RegistryLimits::kMaxFileBytes) {
        Report(" Registry update refused: the file would grow beyond " +
               std::to_string(RegistryLimits::kMaxFileBytes) + " bytes");
        return RegistryResult::REG_RESULT_INVALID_ARGUMENT;
    }
    if (status == LoadStatus::Corrupt && !KeepCorruptCopy(file)) return RegistryResult::REG_RESULT_IO_ERROR;
    if (!ReplaceFile(file, serialized, mode, error)) {
        Report(" Registry update failed: " + error);
        return RegistryResult::REG_RESULT_IO_ERROR;
    }
    return RegistryResult::REG_RESULT_OK;
}

RegistryResult Refuse(const std::string& why) {
    Report(" Registry update refused: " + why);
    return RegistryResult::REG_RESULT_INVALID_ARGUMENT;
}

// Looks one value up in the hive file and checks its type; `out` is set only on success.
RegistryResult ReadValueOfType(RegistryHive hive, const std::filesystem::path& file, std::string_view key,
                               std::string_view name, RegistryValueType type, RegistryValue& out) {
    if (!RegistryStore::KeyPathError(key).empty() || !RegistryStore::ValueNameError(name).empty()) {
        return RegistryResult::REG_RESULT_INVALID_ARGUMENT;
    }
    RegistryHiveText text(hive);
    if (!ReadHive(hive, file, text)) return RegistryResult::REG_RESULT_IO_ERROR;
    const auto* k = text.FindKey(key);
    if (!k) return RegistryResult::REG_RESULT_KEY_NOT_FOUND;
    const auto* v = RegistryHiveText::FindValue(*k, name);
    if (!v) return RegistryResult::REG_RESULT_VALUE_NOT_FOUND;
    if (v->type != type) return RegistryResult::REG_RESULT_WRONG_TYPE;
    out = *v;
    return RegistryResult::REG_RESULT_OK;
}

}  // namespace

bool RegistryStore::KeyExists(std::string_view key) const {
    if (!KeyPathError(key).empty()) return false;
    RegistryHiveText text(hive_);
    return ReadHive(hive_, file_, text) && text.FindKey(key) != nullptr;
}

RegistryResult RegistryStore::ReadString(std::string_view key, std::string_view name, std::string& out) const {
    RegistryValue value;
    const RegistryResult result = ReadValueOfType(hive_, file_, key, name, RegistryValueType::REG_VALUE_SZ, value);
    if (result == RegistryResult::REG_RESULT_OK) out = std::move(value.text);
    return result;
}

RegistryResult RegistryStore::ReadMultiString(std::string_view key, std::string_view name,
                                              std::vector<std::string>& out) const {
    RegistryValue value;
    const RegistryResult result =
        ReadValueOfType(hive_, file_, key, name, RegistryValueType::REG_VALUE_MULTI_SZ, value);
    if (result == RegistryResult::REG_RESULT_OK) out = std::move(value.strings);
    return result;
}

std::optional<std::string> RegistryStore::GetString(std::string_view key, std::string_view name) const {
    std::string out;
    if (ReadString(key, name, out) != RegistryResult::REG_RESULT_OK) return std::nullopt;
    return out;
}

std::optional<std::vector<std::string>> RegistryStore::GetMultiString(std::string_view key,
                                                                      std::string_view name) const {
    std::vector<std::string> out;
    if (ReadMultiString(key, name, out) != RegistryResult::REG_RESULT_OK) return std::nullopt;
    return out;
}

std::optional<std::vector<RegistryValue>> RegistryStore::ListValues(std::string_view key) const {
    if (!KeyPathError(key).empty()) return std::nullopt;
    RegistryHiveText text(hive_);
    if (!ReadHive(hive_, file_, text)) return std::nullopt;
    const auto* k = text.FindKey(key);
    if (!k) return std::nullopt;
    return k->values;
}

std::optional<std::vector<std::string>> RegistryStore::ListSubkeys(std::string_view key) const {
    if (!KeyPathError(key).empty()) return std::nullopt;
    RegistryHiveText text(hive_);
    if (!ReadHive(hive_, file_, text) || !text.FindKey(key)) return std::nullopt;
    return text.Subkeys(key);
}

RegistryResult RegistryStore::CreateKey(std::string_view key) {
    if (std::string why = KeyPathError(key); !why.empty()) return Refuse(why);
    return UpdateHive(hive_, file_, [&](RegistryHiveText& text, bool& changed) {
        changed = text.FindKey(key) == nullptr;
        if (changed) text.CreateKey(key);
        return RegistryResult::REG_RESULT_OK;
    });
}

RegistryResult RegistryStore::SetString(std::string_view key, std::string_view name, std::string_view value) {
    if (std::string why = KeyPathError(key); !why.empty()) return Refuse(why);
    if (std::string why = ValueNameError(name); !why.empty()) return Refuse(why);
    if (std::string why = ValueError({value}); !why.empty()) return Refuse(why);
    return UpdateHive(hive_, file_, [&](RegistryHiveText& text, bool& changed) {
        RegistryValue v{std::string(name), RegistryValueType::REG_VALUE_SZ, std::string(value), {}};
        RegistryHiveText::SetValue(text.CreateKey(key), std::move(v));
        changed = true;
        return RegistryResult::REG_RESULT_OK;
    });
}

RegistryResult RegistryStore::SetMultiString(std::string_view key, std::string_view name,
                                             const std::vector<std::string>& values) {
    if (std::string why = KeyPathError(key); !why.empty()) return Refuse(why);
    if (std::string why = ValueNameError(name); !why.empty()) return Refuse(why);
    if (std::string why = ValueError({values.begin(), values.end()}); !why.empty()) return Refuse(why);
    return UpdateHive(hive_, file_, [&](RegistryHiveText& text, bool& changed) {
        RegistryValue v{std::string(name), RegistryValueType::REG_VALUE_MULTI_SZ, {}, values};
        RegistryHiveText::SetValue(text.CreateKey(key), std::move(v));
        changed = true;
        return RegistryResult::REG_RESULT_OK;
    });
}

RegistryResult RegistryStore::DeleteValue(std::string_view key, std::string_view name) {
    if (std::string why = KeyPathError(key); !why.empty()) return Refuse(why);
    if (std::string why = ValueNameError(name); !why.empty()) return Refuse(why);
    return UpdateHive(hive_, file_, [&](RegistryHiveText& text, bool& changed) {
        RegistryHiveText::Key* k = text.FindKey(key);
        if (!k) return RegistryResult::REG_RESULT_KEY_NOT_FOUND;
        changed = RegistryHiveText::DeleteValue(*k, name);
        return changed ? RegistryResult::REG_RESULT_OK : RegistryResult::REG_RESULT_VALUE_NOT_FOUND;
    });
}

RegistryResult RegistryStore::DeleteKey(std::string_view key) {
    if (std::string why = KeyPathError(key); !why.empty()) return Refuse(why);
    std::string_view trimmed = key;
    while (!trimmed.empty() && trimmed.back() == '\\') trimmed.remove_suffix(1);
    if (trimmed.empty()) return Refuse("the hive's root cannot be deleted");
    return UpdateHive(hive_, file_, [&](RegistryHiveText& text, bool& changed) {
        changed = text.DeleteKey(key);
        return changed ? RegistryResult::REG_RESULT_OK : RegistryResult::REG_RESULT_KEY_NOT_FOUND;
    });
}

}  // namespace platform
