#include "platform/SystemFacts.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

#include "platform/LocaleTable.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// At most this much of a small text file (os-release, sysfs attributes) is read.
constexpr std::size_t kMaxOsReleaseBytes = 64 * 1024;
constexpr std::size_t kMaxSysfsBytes = 256;

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string data(limit, '\0');
    in.read(data.data(), static_cast<std::streamsize>(limit));
    data.resize(static_cast<std::size_t>(in.gcount()));
    return data;
}

std::string TrimWhitespace(std::string_view s) {
    auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return std::string(s);
}

// os-release values follow shell quoting: "..." with backslash escapes of $ ` " \, '...' literal.
std::string UnquoteShellValue(std::string_view v) {
    std::string out;
    char quote = 0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        char c = v[i];
        if (quote == '\'') {
            if (c == '\'') quote = 0; else out += c;
        } else if (quote == '"') {
            if (c == '"') {
                quote = 0;
            } else if (c == '\\' && i + 1 < v.size() && std::string_view("$`\"\\").find(v[i + 1]) != std::string_view::npos) {
                out += v[++i];
            } else {
                out += c;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '\\' && i + 1 < v.size()) {
            out += v[++i];
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            break;  // an unquoted value ends at a blank
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::array<std::uint8_t, 6>> ParseMac(std::string_view text) {
    std::array<std::uint8_t, 6> mac{};
    std::string t = TrimWhitespace(text);
    if (t.size() != 17) return std::nullopt;
    for (std::size_t i = 0; i < 6; ++i) {
        if (i > 0 && t[i * 3 - 1] != ':') return std::nullopt;
        unsigned value = 0;
        for (std::size_t k = 0; k < 2; ++k) {
            char c = static_cast<char>(std::tolower(static_cast<unsigned char>(t[i * 3 + k])));
            if (c >= '0' && c <= '9') value = value * 16 + static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') value = value * 16 + static_cast<unsigned>(c - 'a' + 10);
            else return std::nullopt;
        }
        mac[i] = static_cast<std::uint8_t>(value);
    }
    return mac;
}

bool IsPciOrWireless(const fs::path& adapter) {
    std::error_code ec;
    if (fs::exists(adapter / "wireless", ec) || fs::exists(adapter / "phy80211", ec)) return true;
    fs::path device = fs::canonical(adapter / "device", ec);
    if (ec) return false;
    const std::string resolved = device.string();
    // Physical adapters resolve into the PCI tree (/sys/devices/pci0000:00/...); virtual ones
    // (bridges, veth, tun) have no device link at all.
    return resolved.find("/pci") != std::string::npos;
}

struct IfAddrsDeleter {
    void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

}  // namespace

std::string PrettyNameFromOsRelease(std::string_view content) {
    std::string found;
    while (!content.empty()) {
        auto eol = content.find('\n');
        std::string_view line = content.substr(0, eol);
        content = eol == std::string_view::npos ? std::string_view{} : content.substr(eol + 1);
        std::string trimmed = TrimWhitespace(line);
        constexpr std::string_view kKey = "PRETTY_NAME=";
        if (trimmed.rfind(kKey, 0) == 0) found = UnquoteShellValue(std::string_view(trimmed).substr(kKey.size()));
    }
    return found;  // the last assignment wins, as when the file is sourced
}

std::string OsPrettyName() {
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        if (auto content = ReadSmallFile(path, kMaxOsReleaseBytes)) return PrettyNameFromOsRelease(*content);
    }
    return {};
}

bool IsWow64Process() {
    if constexpr (sizeof(void*) == 8) {
        return false;
    } else {
        utsname u{};
        if (uname(&u) != 0) return false;
        return std::string_view(u.machine).find("64") != std::string_view::npos;
    }
}

UiLanguageSetting UiLanguageSettingFrom(const EnvironmentLookup& lookup) {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        auto value = lookup(name);
        if (value && !value->empty()) return {name, *value};
    }
    return {};
}

UiLanguageSetting UserUiLanguageSetting() {
    return UiLanguageSettingFrom([](const char* name) -> std::optional<std::string> {
        const char* v = std::getenv(name);
        if (!v) return std::nullopt;
        return std::string(v);
    });
}

std::uint16_t LangIdFromUiLanguageSetting(const UiLanguageSetting& setting) {
    std::string_view v = setting.value;
    std::string_view base = v.substr(0, v.find_first_of(".@"));
    if (v.empty() || base == "C" || base == "POSIX") return 0x0409;
    return LangIdFromLocale(v);
}

std::uint16_t UserUiLanguage() { return LangIdFromUiLanguageSetting(UserUiLanguageSetting()); }

CpuSignature CpuIdLeaf1() {
    CpuSignature sig;
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        sig.eax = eax;
        sig.edx = edx;
    }
#endif
    return sig;
}

std::optional<std::uint32_t> SystemVolumeSerial() {
    struct statvfs st {};
    if (statvfs("/", &st) != 0) return std::nullopt;
    return static_cast<std::uint32_t>(st.f_fsid & 0xFFFFFFFFu);
}

std::optional<std::array<std::uint8_t, 6>> PrimaryAdapterMacIn(const std::string& sysClassNet) {
    std::error_code ec;
    std::vector<fs::path> adapters;
    for (fs::directory_iterator it(sysClassNet, ec), end; !ec && it != end; it.increment(ec)) {
        adapters.push_back(it->path());
        if (adapters.size() >= 1024) break;  // no machine has more; a bound against odd mounts
    }
    // Directory order is arbitrary; by name, the answer is the same on every call.
    std::sort(adapters.begin(), adapters.end());
    for (const auto& adapter : adapters) {
        if (!IsPciOrWireless(adapter)) continue;
        auto addrLen = ReadSmallFile((adapter / "addr_len").string(), kMaxSysfsBytes);
        if (!addrLen || TrimWhitespace(*addrLen) != "6") continue;
        auto address = ReadSmallFile((adapter / "address").string(), kMaxSysfsBytes);
        if (!address) continue;
        auto mac = ParseMac(*address);
        if (!mac) continue;
        if (std::all_of(mac->begin(), mac->end(), [](std::uint8_t b) { return b == 0; })) continue;
        return mac;
    }
    return std::nullopt;
}

std::optional<std::array<std::uint8_t, 6>> PrimaryAdapterMac() { return PrimaryAdapterMacIn("/sys/class/net"); }

bool IsNetworkAlive() {
    ifaddrs* raw = nullptr;
    if (getifaddrs(&raw) != 0) return false;
    std::unique_ptr<ifaddrs, IfAddrsDeleter> list(raw);
    for (const ifaddrs* ifa = list.get(); ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr) continue;
        const int family = ifa->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6) continue;
        const unsigned flags = ifa->ifa_flags;
        if ((flags & IFF_LOOPBACK) || !(flags & IFF_UP) || !(flags & IFF_RUNNING)) continue;
        return true;
    }
    return false;
}

std::string CurrentExecutablePath() {
    std::vector<char> buf(4096);
    while (buf.size() <= 65536) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<std::size_t>(n));
        buf.resize(buf.size() * 2);  // possibly truncated: try again with more room
    }
    return {};
}

}  // namespace platform
