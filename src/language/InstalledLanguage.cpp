#include "src/language/InstalledLanguage.h"

#include "src/language/LanguageTable.h"
#include "src/system/RegistryHelpers.h"
#include "platform/ProcessLogger.h"

namespace {

const char* LocaleValueFor(int languageIndex) {
    static const char* const kLocales[] = {"en_US", "ja_JP", "zh_CN", "es_ES", "de_DE", "fr_FR", "ru_RU", "pt_BR"};
    if (languageIndex >= 0 && languageIndex < 8) return kLocales[languageIndex];
    if (languageIndex == kLanguageChineseTrad) return "zh_TW";
    return "en_US";
}

bool Stored(platform::RegistryResult result, const std::string& where) {
    if (result == platform::RegistryResult::REG_RESULT_OK) return true;
    LOG(INFO) << " Language not recorded in " << where << ": " << platform::to_string(result);
    return false;
}

}  // namespace

int RecordInstalledLanguage(int languageIndex, const TInstalledProduct& product, platform::RegistryStore& localMachine,
                            platform::RegistryStore& currentUser) {
    switch (product.downloaderId) {
        case 104:
            return Stored(currentUser.SetString(kProduct104LanguageKey, "kCurrentLanguage",
                                                languageIndex == kLanguageChinese ? "Chinese" : "English"),
                          kProduct104LanguageKey)
                       ? 1
                       : 0;
        case 113:
        case 114:
        case 115:
            return Stored(currentUser.SetString(kProduct113LanguageKey, "Lang", LocaleValueFor(languageIndex)),
                          kProduct113LanguageKey)
                       ? 1
                       : 0;
        default:
            break;
    }

    const char* uninstall = nullptr;
    if (localMachine.KeyExists(kUninstallKeyWow64)) uninstall = kUninstallKeyWow64;
    else if (localMachine.KeyExists(kUninstallKeyNative)) uninstall = kUninstallKeyNative;
    if (uninstall == nullptr) return 0;

    if (product.softwareName.find('\\') != std::string::npos) {
        LOG(INFO) << " Language not recorded: product name names no single key: " << product.softwareName;
        return 0;
    }
    const std::string entry = std::string(uninstall) + "\\" +
                              (product.innoInstaller ? "{" + product.softwareName + "}_is1" : product.softwareName);
    // An index outside the table records English, as the installer's own language switch does.
    const TLanguageInfo& info = LanguageOrEnglish(languageIndex);
    const auto result = product.innoInstaller
                            ? localMachine.SetString(entry, "Inno Setup: Language", info.innoRegistryValue)
                            : localMachine.SetString(entry, "NSIS:Language", info.nsisRegistryValue);
    return Stored(result, entry) ? 1 : 0;
}

int RecordInstalledLanguage(int languageIndex, const TInstalledProduct& product) {
    FuntionImpl::RouteRegistryReportsToLog();
    platform::RegistryStore localMachine(platform::RegistryHive::LocalMachine);
    platform::RegistryStore currentUser(platform::RegistryHive::CurrentUser);
    return RecordInstalledLanguage(languageIndex, product, localMachine, currentUser);
}
