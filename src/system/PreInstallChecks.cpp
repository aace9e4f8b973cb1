#include "src/system/PreInstallChecks.h"

#include <array>
#include <climits>
#include <fstream>

#include "platform/ProcessLogger.h"
#include "platform/Clock.h"
#include "platform/Folders.h"

namespace {

constexpr const char* kSessionManagerKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const char* kPendingRenamesValue = "PendingFileRenameOperations";
constexpr const char* kUninstallRoot = "SoftWare\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const char* kNetFrameKey = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client";
// Readers offer room for 129 characters and the terminating zero; longer values fail.
constexpr std::size_t kMaxRegistryChars = 129;
// Numbered alternatives tried for a directory with pending renames before giving up.
constexpr int kMaxDirectoryAlternatives = 1000;
// Lines of the requirement file are read in pieces of at most this many characters.
constexpr std::size_t kMaxLineChars = 1023;

std::size_t CodePoints(const std::string& text) {
    std::size_t count = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++count;
    return count;
}

// "/opt/Prod/" and "/opt/Prod" name one directory; the rename rules work on the latter.
std::string WithoutTrailingSlash(std::string directory) {
    while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    return directory;
}

// Like fgets with a 1024-character buffer: up to and including the line break, or 1023
// characters (code points, never splitting one).
bool ReadLinePiece(std::istream& in, std::string& piece) {
    piece.clear();
    std::size_t chars = 0;
    for (;;) {
        int next = in.peek();
        if (next == std::char_traits<char>::eof()) break;
        const bool startsCodePoint = (static_cast<unsigned char>(next) & 0xC0) != 0x80;
        if (startsCodePoint && chars == kMaxLineChars) break;
        in.get();
        piece.push_back(static_cast<char>(next));
        if (startsCodePoint) ++chars;
        if (next == '\n') break;
    }
    return !piece.empty();
}

std::array<long long, 4> VersionParts(const std::string& text) {
    std::array<long long, 4> parts{0, 0, 0, 0};
    std::size_t pos = 0;
    for (int i = 0; i < 4 && pos <= text.size(); ++i) {
        std::size_t end = text.find('.', pos);
        std::string piece = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        // Leading blanks, a sign, digits; whatever follows (a line break) is ignored.
        std::size_t k = piece.find_first_not_of(" \t");
        long long value = 0;
        bool negative = false;
        if (k != std::string::npos && (piece[k] == '-' || piece[k] == '+')) negative = piece[k++] == '-';
        for (; k != std::string::npos && k < piece.size() && piece[k] >= '0' && piece[k] <= '9'; ++k) {
            value = value * 10 + (piece[k] - '0');
            if (value > INT_MAX) value = INT_MAX;
        }
        parts[i] = negative ? -value : value;
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    return parts;
}

}  // namespace

CPreInstallChecks::CPreInstallChecks(PreInstallProduct product, std::string installDirectory,
                                     platform::RegistryStore& localMachine, IEventReporter& reporter,
                                     MessageFn showMessage, Sources sources)
    : product_(std::move(product)),
      installDirectory_(std::move(installDirectory)),
      localMachine_(localMachine),
      reporter_(reporter),
      showMessage_(std::move(showMessage)),
      sources_(std::move(sources)) {
    if (!sources_.freeSpace) sources_.freeSpace = platform::FreeBytesForUser;
    if (!sources_.snapshot) sources_.snapshot = platform::SnapshotProcesses;
}

bool CPreInstallChecks::AppIsRunning() {
    auto processes = sources_.snapshot();
    if (!processes) return false;
    for (const auto& process : *processes) {
        if (process.name == product_.Process_name) {
            LOG(INFO) << " " << process.name << "," << product_.Process_name << "ID:" << process.pid;
            if (showMessage_) showMessage_(MessageKind::AppExist);
            return false;
        }
    }
    return true;
}

bool CPreInstallChecks::CheckDiskSpace() {
    // A path that is not absolute names no file system for certain; it fails like a
    // directory on a network share would.
    std::optional<std::uint64_t> freeBytes;
    if (!installDirectory_.empty() && installDirectory_.front() == '/') freeBytes = sources_.freeSpace(installDirectory_);
    if (freeBytes && *freeBytes > kMinimumFreeBytes) return true;
    if (showMessage_) showMessage_(MessageKind::NoEnoughSpace);
    return false;
}

bool CPreInstallChecks::PrepareInstallDirectory() {
    if (!CheckDiskSpace()) return false;
    const std::string directory = WithoutTrailingSlash(installDirectory_);
    std::string error;
    if (!platform::CreateDirectories(directory, &error)) {
        LOG(INFO) << " Create install directory failed: " << directory << ": " << error;
        if (showMessage_) showMessage_(MessageKind::PathError);
        return false;
    }
    std::string chosen = directory;
    if (IsPendingRenameTarget(directory)) {
        reporter_.ReportEvent("Other", "ProcessNeedRestartSign", "", false);
        chosen.clear();
        for (int n = 1; n <= kMaxDirectoryAlternatives; ++n) {
            std::string candidate = directory + " " + std::to_string(n);
            if (!IsPendingRenameTarget(candidate)) {
                chosen = std::move(candidate);
                break;
            }
        }
        if (chosen.empty()) {
            if (showMessage_) showMessage_(MessageKind::PathError);
            return false;
        }
    }
    installDirectory_ = chosen;
    return true;
}

bool CPreInstallChecks::IsPendingRenameTarget(const std::string& directory) const {
    auto operations = localMachine_.GetMultiString(kSessionManagerKey, kPendingRenamesValue);
    if (!operations) return false;
    const std::string inside = WithoutTrailingSlash(directory) + "/";
    for (const auto& entry : *operations) {
        if (entry.empty()) break;
        if (entry.find(inside) != std::string::npos) return true;
    }
    return false;
}

std::string CPreInstallChecks::ServiceNameFor(int softwareId) {
    switch (softwareId) {
        case 6: return "QuorvaneWinAdService";
        case 105: return "QuorvaneDataRecoveryService";
        default: return {};
    }
}

int CPreInstallChecks::StopProductService() {
    const std::string name = ServiceNameFor(product_.Software_id);
    if (name.empty()) return 0;
    CSystemctlServiceControl systemctl;
    IServiceControl& services = sources_.services ? *sources_.services : systemctl;
    if (!services.ManagerAvailable()) return 1;
    if (!services.ServiceExists(name)) return 2;
    auto status = services.QueryStatus(name);
    if (!status) return 3;
    if (status->state == ServiceState::SERVICE_RUNNING) {
        if (!services.RequestStop(name)) return 4;
        // A service that never reports stopped must not hold the wizard forever.
        std::uint64_t waited = 0;
        for (;;) {
            auto now = services.QueryStatus(name);
            if (!now || now->state == ServiceState::SERVICE_STOPPED) break;
            if (waited >= sources_.maxServiceStopWaitMs) {
                LOG(INFO) << " Service still stopping after " << waited << " ms: " << name;
                break;
            }
            platform::SleepMs(now->waitHintMs);
            waited += now->waitHintMs > 0 ? now->waitHintMs : 1;
        }
    }
    return 0;
}

std::string CPreInstallChecks::UninstallKey() const {
    // The name must stay one key below Uninstall.
    if (product_.Software_name.empty() || product_.Software_name.find('\\') != std::string::npos) return {};
    return kUninstallRoot + product_.Software_name;
}

std::optional<std::string> CPreInstallChecks::ReadUninstallValue(const std::string& name) const {
    const std::string key = UninstallKey();
    if (key.empty()) return std::nullopt;
    auto value = localMachine_.GetString(key, name);
    if (!value || CodePoints(*value) > kMaxRegistryChars) return std::nullopt;
    return value;
}

bool CPreInstallChecks::WriteUninstallValue(const std::string& name, const std::string& text) {
    const std::string key = UninstallKey();
    if (key.empty()) return false;
    return localMachine_.SetString(key, name, text) == platform::RegistryResult::REG_RESULT_OK;
}

namespace FuntionImpl {

std::string ReadNetFrameRequirement(const std::string& installDirectory) {
    static constexpr std::string_view kKey = "NetFrameworkVersion=";
    std::ifstream in(installDirectory + "/NetFrameCheck.db", std::ios::binary);
    if (!in) return {};
    if (in.peek() == 0xEF) {  // a byte-order mark ahead of the first line
        char bom[3] = {};
        in.read(bom, 3);
        if (std::string(bom, 3) != "\xEF\xBB\xBF") in.seekg(0);
    }
    std::string requirement;
    bool inSettings = false;
    std::string piece;
    while (ReadLinePiece(in, piece)) {
        if (CodePoints(piece) < 3) continue;
        if (piece.find("[Settings]") != std::string::npos) {
            inSettings = true;
            continue;
        }
        if (piece.find("[Text]") != std::string::npos) break;
        if (inSettings && piece.compare(0, kKey.size(), kKey) == 0) {
            requirement = piece.substr(kKey.size());
            while (!requirement.empty() && (requirement.back() == '\n' || requirement.back() == '\r'))
                requirement.pop_back();
        }
    }
    return requirement;
}

int CompareFourPartVersions(const std::string& a, const std::string& b) {
    auto left = VersionParts(a);
    auto right = VersionParts(b);
    for (int i = 0; i < 4; ++i) {
        if (left[i] != right[i]) return left[i] < right[i] ? -1 : 1;
    }
    return 0;
}

std::string InstalledNetFrameVersion(const platform::RegistryStore& localMachine) {
    return localMachine.GetString(kNetFrameKey, "Version").value_or(std::string());
}

bool WillShowNetFrameCheck(const std::string& installDirectory, const platform::RegistryStore& localMachine) {
    const std::string required = ReadNetFrameRequirement(installDirectory);
    if (required.empty()) return false;
    const std::string installed = InstalledNetFrameVersion(localMachine);
    LOG(INFO) << " LocalNetFrame: " << installed << ", NeedNetFrame: " << required;
    return CompareFourPartVersions(installed, required) < 0;
}

bool WillShowNetFrameCheck(const std::string& installDirectory) {
    platform::RegistryStore localMachine(platform::RegistryHive::LocalMachine);
    return WillShowNetFrameCheck(installDirectory, localMachine);
}

}  // namespace FuntionImpl
