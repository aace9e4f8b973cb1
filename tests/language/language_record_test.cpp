// Recording the interface language after an install where the installed product reads it,
// in registry hives kept in a temporary folder.
#include <gtest/gtest.h>

#include "src/language/InstalledLanguage.h"
#include "LanguageTestSupport.h"

namespace {

using namespace langtest;
using platform::RegistryHive;
using platform::RegistryStore;

class RecordLanguage : public ::testing::Test {
protected:
    TempDir dir_;
    RegistryStore hklm_{RegistryHive::LocalMachine, dir_.path()};
    RegistryStore hkcu_{RegistryHive::CurrentUser, dir_.path()};
    const std::string wowEntry_ = std::string(kUninstallKeyWow64) + "\\{Morvik Backup}_is1";
    const std::string nativeEntry_ = std::string(kUninstallKeyNative) + "\\{Morvik Backup}_is1";
};

TEST_F(RecordLanguage, InnoSetupEntryOfTheShippedProduct) {
    ASSERT_EQ(hklm_.CreateKey("SoftWare\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall"),
              platform::RegistryResult::REG_RESULT_OK);
    ASSERT_EQ(hklm_.CreateKey(kUninstallKeyNative), platform::RegistryResult::REG_RESULT_OK);
    EXPECT_EQ(RecordInstalledLanguage(2, {224, "Morvik Backup", true}, hklm_, hkcu_), 1);
    EXPECT_EQ(hklm_.GetString(wowEntry_, "Inno Setup: Language"), "zhcn");
    EXPECT_FALSE(hklm_.KeyExists(nativeEntry_)) << "the 32-bit view's key comes first";
    EXPECT_FALSE(hkcu_.KeyExists("SOFTWARE"));

    // An index beyond the table records English rather than nothing.
    EXPECT_EQ(RecordInstalledLanguage(25, {224, "Morvik Backup", true}, hklm_, hkcu_), 1);
    EXPECT_EQ(hklm_.GetString(wowEntry_, "Inno Setup: Language"), "en");
}

TEST_F(RecordLanguage, NativeUninstallKeyAndNsisValues) {
    ASSERT_EQ(hklm_.CreateKey(kUninstallKeyNative), platform::RegistryResult::REG_RESULT_OK);
    EXPECT_EQ(RecordInstalledLanguage(19, {0, "Morvik Backup", true}, hklm_, hkcu_), 1);
    EXPECT_EQ(hklm_.GetString(nativeEntry_, "Inno Setup: Language"), "cz");

    const std::string nsisEntry = std::string(kUninstallKeyNative) + "\\Morvik Backup";
    struct Case { int index; const char* lcid; };
    for (const Case& c : {Case{0, "1033"}, Case{1, "1041"}, Case{2, "1028"}, Case{10, "32772"}, Case{11, ""}}) {
        EXPECT_EQ(RecordInstalledLanguage(c.index, {0, "Morvik Backup", false}, hklm_, hkcu_), 1) << c.index;
        EXPECT_EQ(hklm_.GetString(nsisEntry, "NSIS:Language"), c.lcid) << c.index;
    }
}

TEST_F(RecordLanguage, NothingStoredWithoutAnUninstallKeyOrWithANameThatLeavesIt) {
    EXPECT_EQ(RecordInstalledLanguage(2, {224, "Morvik Backup", true}, hklm_, hkcu_), 0);
    EXPECT_FALSE(hklm_.KeyExists("SOFTWARE"));

    ASSERT_EQ(hklm_.CreateKey(kUninstallKeyNative), platform::RegistryResult::REG_RESULT_OK);
    EXPECT_EQ(RecordInstalledLanguage(2, {224, "..\\..\\Run", false}, hklm_, hkcu_), 0);
    EXPECT_EQ(hklm_.ListSubkeys(kUninstallKeyNative), std::vector<std::string>{});

    // A hive that cannot be written: its folder is a file.
    WriteFile(dir_.path() / "blocked", "not a folder");
    RegistryStore blocked(RegistryHive::CurrentUser, dir_.path() / "blocked");
    EXPECT_EQ(RecordInstalledLanguage(2, {104, "Morvik Backup", true}, hklm_, blocked), 0);
}

TEST_F(RecordLanguage, OtherProductsOfTheMakerReadTheirOwnKeys) {
    ASSERT_EQ(hklm_.CreateKey(kUninstallKeyNative), platform::RegistryResult::REG_RESULT_OK);
    for (int index : {2, 0, 10}) {
        EXPECT_EQ(RecordInstalledLanguage(index, {104, "Morvik Backup", true}, hklm_, hkcu_), 1);
        EXPECT_EQ(hkcu_.GetString(kProduct104LanguageKey, "kCurrentLanguage"), index == 2 ? "Chinese" : "English");
    }
    struct Case { int index; const char* locale; };
    const Case locales[] = {{0, "en_US"}, {1, "ja_JP"}, {2, "zh_CN"}, {3, "es_ES"}, {4, "de_DE"}, {5, "fr_FR"},
                            {6, "ru_RU"}, {7, "pt_BR"}, {8, "en_US"}, {10, "zh_TW"}, {11, "en_US"}, {19, "en_US"}};
    for (int id : {113, 114, 115})
        for (const Case& c : locales) {
            EXPECT_EQ(RecordInstalledLanguage(c.index, {id, "Morvik Backup", true}, hklm_, hkcu_), 1);
            EXPECT_EQ(hkcu_.GetString(kProduct113LanguageKey, "Lang"), c.locale) << id << " " << c.index;
        }
    EXPECT_EQ(hklm_.ListSubkeys(kUninstallKeyNative), std::vector<std::string>{}) << "not the uninstall entry";
}

}  // namespace
