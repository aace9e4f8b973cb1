#pragma once
// Facts about this machine and this process. Each call reads them afresh.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// PRETTY_NAME of /etc/os-release (falling back to /usr/lib/os-release); empty when unreadable.
std::string OsPrettyName();

// PRETTY_NAME out of os-release text (shell-style quoting and escapes undone); empty when absent.
std::string PrettyNameFromOsRelease(std::string_view content);

// True for a 32-bit build running on a 64-bit kernel.
bool IsWow64Process();

// The user's interface language as a Windows LANGID: the first of LC_ALL, LC_MESSAGES,
// LANG that is set and non-empty, mapped by LangIdFromLocale. Unset, "C" and "POSIX" give 0x0409.
std::uint16_t UserUiLanguage();

// Which variable UserUiLanguage took its answer from, for diagnostics.
struct UiLanguageSetting {
    std::string variable;  // "LC_ALL", "LC_MESSAGES", "LANG"; empty when none is set
    std::string value;
};
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;
UiLanguageSetting UiLanguageSettingFrom(const EnvironmentLookup& lookup);
UiLanguageSetting UserUiLanguageSetting();
// The LANGID a setting stands for: empty, "C" and "POSIX" (any codeset) give 0x0409.
std::uint16_t LangIdFromUiLanguageSetting(const UiLanguageSetting& setting);

// "ll_CC[.codeset][@modifier]" -> LANGID by a table covering every LANGID the product's
// tables name (language-name table and country table); a known language with an unknown
// country gives that language's primary LANGID; anything else gives 0 (neutral).
std::uint16_t LangIdFromLocale(std::string_view locale);

// CPUID leaf 1: EAX (processor signature) and EDX (feature flags).
struct CpuSignature {
    std::uint32_t eax = 0;
    std::uint32_t edx = 0;
};
CpuSignature CpuIdLeaf1();

// Low 32 bits of statvfs("/").f_fsid; nullopt when it cannot be read.
std::optional<std::uint32_t> SystemVolumeSerial();

// Hardware address of the first /sys/class/net/* adapter that sits on a PCI bus or is
// wireless and has a 6-byte address; nullopt when none qualifies.
std::optional<std::array<std::uint8_t, 6>> PrimaryAdapterMac();
// The same over another copy of the /sys/class/net layout (tests).
std::optional<std::array<std::uint8_t, 6>> PrimaryAdapterMacIn(const std::string& sysClassNet);

// A non-loopback interface that is up and running and has an address.
bool IsNetworkAlive();

// Absolute path of the running executable (/proc/self/exe); empty on failure.
std::string CurrentExecutablePath();

}  // namespace platform
