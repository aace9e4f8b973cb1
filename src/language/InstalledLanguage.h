#pragma once
// Records the interface language after an install, where the installed product reads
// its own language at its first start.
//
// Where, by the configuration's downloader id:
// - 104: HKCU kProduct104LanguageKey, string "kCurrentLanguage" = "Chinese" for Simplified
//   Chinese, "English" for every other language.
// - 113, 114, 115: HKCU kProduct113LanguageKey, string "Lang" = "en_US", "ja_JP", "zh_CN",
//   "es_ES", "de_DE", "fr_FR", "ru_RU", "pt_BR" (0-7), "zh_TW" (10), "en_US" otherwise.
// - any other id: the product's uninstall entry in HKLM, below the 32-bit view's
//   Uninstall key when that exists, else below the native one, else nowhere:
//   "{<Software_name>}_is1" with "Inno Setup: Language" for an Inno Setup installer,
//   "<Software_name>" with "NSIS:Language" (the LCID text) otherwise.
// A Software_name with a "\" would name a key outside the Uninstall key and is refused.
//
// Thread ownership: any thread; the registry store serialises its updates.

#include <string>

#include "platform/RegistryStore.h"

inline constexpr const char* kProduct104LanguageKey = "SOFTWARE\\Quorvane\\Product104";
inline constexpr const char* kProduct113LanguageKey = "SOFTWARE\\Quorvane\\Product113";
inline constexpr const char* kUninstallKeyWow64 = "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr const char* kUninstallKeyNative = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

struct TInstalledProduct {
    int downloaderId = 0;
    std::string softwareName;    // Software_name of the configuration
    bool innoInstaller = true;   // the product installer is an Inno Setup installer
};

// 1 when a value was stored, 0 otherwise (no Uninstall key, a refused name, a failed write).
int RecordInstalledLanguage(int languageIndex, const TInstalledProduct& product, platform::RegistryStore& localMachine,
                            platform::RegistryStore& currentUser);
// The same on the process's registry hives.
int RecordInstalledLanguage(int languageIndex, const TInstalledProduct& product);
