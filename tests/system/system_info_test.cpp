// The texts that describe this machine in logs and analytics: fixed tables, the Windows version
// rules, locale names, country lookup and file versions.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "src/telemetry/LanguageTables.h"
#include "src/telemetry/SystemInfo.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;
using namespace FuntionImpl;

namespace {

TEST(LanguageNameTable, HasEveryEntryOnceInAscendingOrderWithTheExactTexts) {
    auto table = LanguageNameTable();
    ASSERT_EQ(table.size(), 142u);
    for (std::size_t i = 1; i < table.size(); ++i) EXPECT_LT(table[i - 1].langId, table[i].langId) << i;

    const std::map<std::uint16_t, std::string> spot = {
        {0x0400, "Default_Default"},
        {0x0409, "English_United States"},
        {0x040A, "Spanish_Spain (Traditional sort)"},
        {0x0414, "Norwegian_Norway (Bokm?l)"},
        {0x042F, "Macedonian (FYROM)_Macedonian (FYROM)"},
        {0x0465, "Divehi_Maldives"},
        {0x0804, "Chinese_PRC"},
        {0x0C0A, "Spanish_Spain (International sort)"},
        {0x3801, "Arabic_U.A.E."},
        {0x500A, "Spanish_Puerto Rico"},
    };
    for (const auto& [id, name] : spot) EXPECT_EQ(GetLocaleNameFor(id), name) << std::hex << id;
    EXPECT_EQ(table.front().langId, 0x0400);
    EXPECT_EQ(table.back().langId, 0x500A);
}

TEST(CountryTable, HasSixtyFourEntriesGroupedIntoTheTwentyLanguages) {
    auto table = CountryTable();
    ASSERT_EQ(table.size(), 64u);
    std::set<std::uint16_t> ids;
    std::map<int, int> perIndex;
    for (const auto& e : table) {
        EXPECT_TRUE(ids.insert(e.langId).second) << "duplicate " << std::hex << e.langId;
        ASSERT_GE(e.languageIndex, 0);
        ASSERT_LE(e.languageIndex, 19);
        ++perIndex[e.languageIndex];
    }
    const std::map<int, int> expected = {{0, 11}, {1, 1},  {2, 1},  {3, 20}, {4, 5},  {5, 5},  {6, 1},
                                         {7, 2},  {8, 1},  {9, 2},  {10, 2}, {11, 2}, {12, 2}, {13, 1},
                                         {14, 1}, {15, 1}, {16, 1}, {17, 2}, {18, 2}, {19, 1}};
    EXPECT_EQ(perIndex, expected);
}

TEST(LookupCountry, KnownIdsGiveNameAndIndexOthersTheUnknownForm) {
    struct Case {
        std::uint16_t id;
        const char* country;
        int index;
    };
    const Case cases[] = {
        {0x0409, "America", 0},     {0x2C09, "Trinidad", 0},      {0x0411, "Japan", 1},
        {0x0804, "China", 2},       {0x0C0A, "Spain", 3},         {0x040A, "Spain", 3},
        {0x400A, "bolivia", 3},     {0x440A, "Salvatore", 3},     {0x0C07, "Austria", 4},
        {0x0C0C, "Canada", 5},      {0x0401, "Arab", 8},          {0x0810, "Swiss", 9},
        {0x0812, "Korea (Johab)", 11}, {0x0813, "Dutch (Belgian)", 12}, {0x083E, "Brunei Darussalam", 17},
        {0x0405, "Czech Republic", 19},
        // Outside the table: decimal identifier, language index 0.
        {0x0400, "Unknown--1024", 0}, {0x0000, "Unknown--0", 0},   {0x0801, "Unknown--2049", 0},
        {0xFFFF, "Unknown--65535", 0},
    };
    for (const auto& c : cases) {
        auto info = LookupCountry(c.id);
        EXPECT_EQ(info.countryName, c.country) << std::hex << c.id;
        EXPECT_EQ(info.languageIndex, c.index) << std::hex << c.id;
    }
}

TEST(GetLocaleNameFor, NeutralTableAndHexadecimalForms) {
    const std::pair<std::uint16_t, const char*> cases[] = {
        {0x0000, "Neutral_Neutral"},
        {0x0409, "English_United States"},
        {0x0C0C, "French_Canada"},
        {0x0400, "Default_Default"},
        // Missing from the table: four lower-case hex digits, twice.
        {0x0C0B, "0x0c0b_0x0c0b"},
        {0x0812, "0x0812_0x0812"},
        {0x0001, "0x0001_0x0001"},
        {0xABCD, "0xabcd_0xabcd"},
    };
    for (const auto& [id, name] : cases) EXPECT_EQ(GetLocaleNameFor(id), name) << std::hex << id;
}

TEST(WindowsOsName, FollowsTheVersionRules) {
    struct Case {
        const char* why;
        WindowsVersionFacts facts;
        const char* name;
    };
    auto v = [](unsigned major, unsigned minor) {
        WindowsVersionFacts f;
        f.major = major;
        f.minor = minor;
        return f;
    };
    auto with = [](WindowsVersionFacts f, auto change) {
        change(f);
        return f;
    };
    const Case cases[] = {
        {"build 22000+", with(v(6, 2), [](auto& f) { f.windows11 = true; f.ntMajor = 10; }), "Windows 11"},
        {"NT 10.0 beats an older version query", with(v(6, 2), [](auto& f) { f.ntMajor = 10; }), "Windows 10"},
        {"NT 6.3 beats an older version query", with(v(6, 2), [](auto& f) { f.ntMajor = 6; f.ntMinor = 3; }), "Windows 8.1"},
        {"NT numbers even when the query fails", with(v(0, 0), [](auto& f) { f.ntMajor = 10; f.versionQueryOk = false; }), "Windows 10"},
        {"NT 6.2 falls through to the table", with(v(6, 2), [](auto& f) { f.ntMajor = 6; f.ntMinor = 2; }), "Windows 8"},
        {"NT 4.0", v(4, 0), "Windows NT 4.0"},
        {"95", with(v(4, 0), [](auto& f) { f.platformWin32Nt = false; }), "Windows 95"},
        {"98", v(4, 10), "Windows 98"},
        {"Me", v(4, 90), "Microsoft Windows Me"},
        {"2000", v(5, 0), "Windows 2000"},
        {"XP", v(5, 1), "Windows XP"},
        {"XP x64", with(v(5, 2), [](auto& f) { f.amd64 = true; }), "Windows XP Professional x64 Edition"},
        {"5.2 workstation not AMD64", v(5, 2), "Windows Server 2003"},
        {"2003", with(v(5, 2), [](auto& f) { f.workstation = false; f.amd64 = true; }), "Windows Server 2003"},
        {"2003 R2", with(v(5, 2), [](auto& f) { f.workstation = false; f.serverR2 = true; }), "Windows Server 2003 R2"},
        {"Vista", v(6, 0), "Windows Vista"},
        {"2008", with(v(6, 0), [](auto& f) { f.workstation = false; }), "Windows Server 2008"},
        {"7", v(6, 1), "Windows 7"},
        {"2008 R2", with(v(6, 1), [](auto& f) { f.workstation = false; }), "Windows Server 2008 R2"},
        {"8", v(6, 2), "Windows 8"},
        {"2012", with(v(6, 2), [](auto& f) { f.workstation = false; }), "Windows Server 2012"},
        {"major 3", v(3, 51), "Error"},
        {"major 10 without NT numbers", v(10, 0), "Error"},
        {"other minor of 4", v(4, 1), ""},
        {"other minor of 5", v(5, 3), ""},
        {"6.3 without NT numbers", v(6, 3), ""},
        {"failed version query", with(v(6, 1), [](auto& f) { f.versionQueryOk = false; }), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(WindowsOsName(c.facts), c.name) << c.why;
}

TEST(SystemInfo, OsNameIsThisSystemsPrettyNameAndNeverWindows11) {
    EXPECT_FALSE(IsWindows11());
    const std::string os = GetOsName();
    EXPECT_FALSE(os.empty());
    std::ifstream release("/etc/os-release");
    std::string line;
    while (std::getline(release, line)) {
        if (line.rfind("PRETTY_NAME=", 0) == 0) {
            EXPECT_NE(line.find(os), std::string::npos) << line;
        }
    }
    if constexpr (sizeof(void*) == 8) {
        EXPECT_FALSE(IsWow64());  // a 64-bit build never runs under WOW64
    }
}

class FileVersionFiles : public ::testing::Test {
protected:
    std::string MakePe(const std::string& name, const std::string& options) {
        const std::string out = (dir_ / name).string();
        const std::string cmd = "python3 '" QV_SOURCE_DIR "/tests/fixtures/pe/make_pe.py' '" + out + "' " + options;
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return out;
    }

    qvtest::TempFolder folder_{"qv-sysinfo-"};
    const fs::path& dir_ = folder_.path();
};

std::string ProjectVersion() {
    std::ifstream in(QV_SOURCE_DIR "/CMakeLists.txt");
    std::stringstream text;
    text << in.rdbuf();
    std::smatch m;
    const std::string s = text.str();
    if (!std::regex_search(s, m, std::regex(R"(project\(\w+\s+VERSION\s+(\d+)\.(\d+)(?:\.(\d+))?(?:\.(\d+))?)"))) return {};
    auto part = [&](int i) { return m[i].matched ? m[i].str() : std::string("0"); };
    return part(1) + "." + part(2) + "." + part(3) + "." + part(4);
}

TEST_F(FileVersionFiles, PeVersionResourceGivesFourNumbersFromTheFileVersion) {
    // The product version differs on purpose: only the file version counts.
    EXPECT_EQ(GetFileVersion(MakePe("a.exe", "--version 1.2.3.4 --product-version 7.7.7.7")), "1.2.3.4");
    EXPECT_EQ(GetFileVersion(MakePe("b.exe", "--version 2.5.0.0 --pe32plus")), "2.5.0.0");
    EXPECT_EQ(GetFileVersion(MakePe("c.exe", "--version 65535.0.65535.1")), "65535.0.65535.1");
}

TEST_F(FileVersionFiles, FilesWithoutAVersionGiveEmptyText) {
    EXPECT_EQ(GetFileVersion(MakePe("manifest-only.exe", "--no-version")), "");
    std::ofstream((dir_ / "notes.txt").string()) << "MZ but not much else\n";
    EXPECT_EQ(GetFileVersion((dir_ / "notes.txt").string()), "");
    std::ofstream((dir_ / "empty").string());
    EXPECT_EQ(GetFileVersion((dir_ / "empty").string()), "");
    EXPECT_EQ(GetFileVersion((dir_ / "missing.exe").string()), "");
    EXPECT_EQ(GetFileVersion(dir_.string()), "");
    EXPECT_EQ(GetFileVersion("/bin/sh"), "");  // an ELF without our version note
}

TEST_F(FileVersionFiles, OurExecutablesCarryTheProjectVersion) {
    const std::string version = ProjectVersion();
    ASSERT_FALSE(version.empty());
    EXPECT_EQ(GetFileVersion(QV_SETUP_EXE), version);
    EXPECT_EQ(GetFileVersion(QV_SETUP_TOOL), version);
}

}  // namespace
