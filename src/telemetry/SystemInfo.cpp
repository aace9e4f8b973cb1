#include "src/telemetry/SystemInfo.h"

#include <cstdio>

#include "src/telemetry/LanguageTables.h"
#include "platform/FileVersion.h"
#include "platform/SystemFacts.h"

namespace FuntionImpl {

std::string WindowsOsName(const WindowsVersionFacts& f) {
    if (f.windows11) return "Windows 11";
    // The NT numbers are not subject to the compatibility shims that make the version query
    // report an older Windows to unmanifested programs.
    if (f.ntMajor == 6 && f.ntMinor == 3) return "Windows 8.1";
    if (f.ntMajor == 10 && f.ntMinor == 0) return "Windows 10";
    if (!f.versionQueryOk) return {};
    const unsigned major = f.major, minor = f.minor;
    const auto pick = [&f](const char* workstation, const char* server) { return f.workstation ? workstation : server; };
    switch (major) {
        case 4:
            if (minor == 0) return f.platformWin32Nt ? "Windows NT 4.0" : "Windows 95";
            if (minor == 10) return "Windows 98";
            if (minor == 90) return "Microsoft Windows Me";
            return {};
        case 5:
            if (minor == 0) return "Windows 2000";
            if (minor == 1) return "Windows XP";
            if (minor == 2) {
                if (f.workstation && f.amd64) return "Windows XP Professional x64 Edition";
                return f.serverR2 ? "Windows Server 2003 R2" : "Windows Server 2003";
            }
            return {};
        case 6:
            if (minor == 0) return pick("Windows Vista", "Windows Server 2008");
            if (minor == 1) return pick("Windows 7", "Windows Server 2008 R2");
            if (minor == 2) return pick("Windows 8", "Windows Server 2012");
            return {};
        default:
            return "Error";
    }
}

bool IsWindows11() { return false; }

std::string GetOsName() {
    if (IsWindows11()) return "Windows 11";
    std::string name = platform::OsPrettyName();
    // A system without os-release still deserves a name in the analytics rather than nothing.
    return name.empty() ? "Linux" : name;
}

bool IsWow64() { return platform::IsWow64Process(); }

std::string GetLocaleNameFor(std::uint16_t langId) {
    if (langId == 0) return "Neutral_Neutral";
    for (const auto& e : LanguageNameTable()) {
        if (e.langId == langId) return e.name;
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%.4x", langId);
    return std::string(hex) + "_" + hex;
}

std::string GetLocaleName() { return GetLocaleNameFor(platform::UserUiLanguage()); }

std::string GetFileVersion(const std::string& path) {
    auto v = platform::ReadFileVersion(path);
    if (!v) return {};
    return std::to_string(v->major) + "." + std::to_string(v->minor) + "." + std::to_string(v->patch) + "." +
           std::to_string(v->build);
}

CountryInfo LookupCountry(std::uint16_t langId) {
    for (const auto& e : CountryTable()) {
        if (e.langId == langId) return {e.countryName, e.languageIndex};
    }
    return {"Unknown--" + std::to_string(langId), 0};
}

}  // namespace FuntionImpl
