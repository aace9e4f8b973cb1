#pragma once
// System facts as the texts that logs and analytics carry.

#include <cstdint>
#include <string>

namespace FuntionImpl {

std::string GetOsName();                 // operating system name
bool IsWindows11();                      // always false off Windows
bool IsWow64();
std::string GetLocaleName();             // e.g. "English_United States", "Neutral_Neutral", "0x0c0c_0x0c0c"
std::string GetLocaleNameFor(std::uint16_t langId);  // the same, for a given LANGID
std::string GetFileVersion(const std::string& path); // "%d.%d.%d.%d" or empty

// Country table used to pick the start-up language.
struct CountryInfo {
    std::string countryName;  // "Japan", or "Unknown--" + decimal LANGID
    int languageIndex = 0;    // index into the 20-language list
};
CountryInfo LookupCountry(std::uint16_t langId);

// The Windows version rules as a pure function, for logs that name a Windows version.
struct WindowsVersionFacts {
    unsigned major = 0, minor = 0;
    bool platformWin32Nt = true;       // VER_PLATFORM_WIN32_NT (else WIN32_WINDOWS)
    bool workstation = true;           // VER_NT_WORKSTATION
    bool amd64 = false;                // processor architecture AMD64
    bool serverR2 = false;             // GetSystemMetrics(SM_SERVERR2) != 0
    bool versionQueryOk = true;        // GetVersionExW succeeded
    unsigned ntMajor = 0, ntMinor = 0; // RtlGetNtVersionNumbers (0 = unavailable)
    bool windows11 = false;            // IsWindows11
};
std::string WindowsOsName(const WindowsVersionFacts& facts);

}  // namespace FuntionImpl
