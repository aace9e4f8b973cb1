// Facts read from this machine: the interface language from the locale environment, the OS
// name from os-release, the adapter address from sysfs, and the process's own path.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>

#include "src/telemetry/LanguageTables.h"
#include "platform/LocaleTable.h"
#include "platform/SystemFacts.h"

namespace fs = std::filesystem;

namespace {

TEST(LangIdFromLocale, MapsLocaleNamesInTheirUsualSpellings) {
    const std::pair<const char*, std::uint16_t> cases[] = {
        {"ja_JP.UTF-8", 0x0411},   {"de_AT.UTF-8", 0x0C07},  {"de_AT@euro", 0x0C07},
        {"de_AT.ISO-8859-15@euro", 0x0C07}, {"ja-JP", 0x0411}, {"JA_jp.utf8", 0x0411},
        {"es_ES.UTF-8", 0x0C0A},   {"es_ES@traditional", 0x040A},
        {"sr_RS", 0x0C1A},         {"sr_RS@latin", 0x081A},   {"uz_UZ", 0x0443},
        {"uz_UZ.UTF-8@cyrillic", 0x0843}, {"ko_KR.JOHAB", 0x0812}, {"ko_KR.EUC-KR", 0x0412},
        {"nb_NO.UTF-8", 0x0414},   {"nn_NO.UTF-8", 0x0814},   {"kok_IN", 0x0457},
        // A known language in an unlisted territory, or none: that language's main identifier.
        {"ja", 0x0411},            {"en_XX", 0x0409},         {"zh", 0x0804},
        {"pt_AO.UTF-8", 0x0416},   {"de", 0x0407},
        // Unknown or malformed: neutral.
        {"xx_YY.UTF-8", 0},        {"", 0},                   {"_JP", 0},
        {".UTF-8", 0},             {"@euro", 0},              {"klingon", 0},
    };
    for (const auto& [locale, id] : cases) EXPECT_EQ(platform::LangIdFromLocale(locale), id) << locale;
    EXPECT_EQ(platform::LangIdFromLocale(std::string(300, 'a')), 0);
}

TEST(LangIdFromLocale, EveryIdentifierOfTheProductTablesIsReachable) {
    std::map<std::uint16_t, std::string> reachable;
    for (const auto& m : platform::LocaleMappings()) {
        std::string locale = std::string(m.language) + "_" + m.territory + ".UTF-8";
        if (m.modifier[0]) locale += std::string("@") + m.modifier;
        ASSERT_EQ(platform::LangIdFromLocale(locale), m.langId) << locale;
        reachable.emplace(m.langId, locale);
    }
    std::set<std::uint16_t> wanted;
    for (const auto& e : FuntionImpl::LanguageNameTable()) wanted.insert(e.langId);
    for (const auto& e : FuntionImpl::CountryTable()) wanted.insert(e.langId);
    wanted.erase(0x0400);  // "the user's default": a Windows placeholder no locale stands for
    for (auto id : wanted) EXPECT_TRUE(reachable.count(id)) << "no locale gives 0x" << std::hex << id;
}

TEST(UserUiLanguage, FirstSetOfLcAllLcMessagesLangDecides) {
    struct Case {
        std::map<std::string, std::string> env;
        const char* variable;
        std::uint16_t id;
    };
    const Case cases[] = {
        {{{"LC_ALL", "de_AT.UTF-8"}, {"LC_MESSAGES", "ja_JP.UTF-8"}, {"LANG", "fr_FR.UTF-8"}}, "LC_ALL", 0x0C07},
        {{{"LC_MESSAGES", "ja_JP.UTF-8"}, {"LANG", "fr_FR.UTF-8"}}, "LC_MESSAGES", 0x0411},
        {{{"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", "fr_FR.UTF-8"}}, "LANG", 0x040C},
        {{{"LC_CTYPE", "ja_JP.UTF-8"}, {"LANG", "de_AT"}}, "LANG", 0x0C07},
        {{{"LANG", "C"}}, "LANG", 0x0409},
        {{{"LANG", "C.UTF-8"}}, "LANG", 0x0409},
        {{{"LC_ALL", "POSIX"}, {"LANG", "ja_JP"}}, "LC_ALL", 0x0409},
        {{}, "", 0x0409},
        {{{"LANG", "xx_YY"}}, "LANG", 0},
    };
    for (const auto& c : cases) {
        auto setting = platform::UiLanguageSettingFrom([&](const char* name) -> std::optional<std::string> {
            auto it = c.env.find(name);
            if (it == c.env.end()) return std::nullopt;
            return it->second;
        });
        EXPECT_EQ(setting.variable, c.variable);
        EXPECT_EQ(platform::LangIdFromUiLanguageSetting(setting), c.id) << c.variable;
    }
}

TEST(OsPrettyName, ReadsShellQuotedValues) {
    const std::pair<const char*, const char*> cases[] = {
        {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n", "Debian GNU/Linux 12 (bookworm)"},
        {"PRETTY_NAME='Fedora Linux 40 (Workstation Edition)'\n", "Fedora Linux 40 (Workstation Edition)"},
        {"PRETTY_NAME=Alpine\n", "Alpine"},
        {"PRETTY_NAME=\"A \\\"quoted\\\" \\$name\"\n", "A \"quoted\" $name"},
        {"  PRETTY_NAME=\"Indented\"  \r\n", "Indented"},
        {"# PRETTY_NAME=\"commented\"\nNAME=x\n", ""},
        {"PRETTY_NAME=\"first\"\nPRETTY_NAME=\"second\"", "second"},
        {"XPRETTY_NAME=\"other key\"\n", ""},
        {"PRETTY_NAME=\"unterminated\n", "unterminated"},
        {"", ""},
    };
    for (const auto& [text, name] : cases) EXPECT_EQ(platform::PrettyNameFromOsRelease(text), name) << text;
}

class FakeSysClassNet : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("qv-net-" + std::to_string(std::random_device{}()));
        fs::create_directories(root_ / "devices/pci0000:00/0000:00:03.0");
        fs::create_directories(root_ / "devices/pci0000:00/0000:00:04.0");
        fs::create_directories(root_ / "devices/pci0000:00/0000:00:05.0");
        fs::create_directories(root_ / "devices/virtual/net/veth0");
        fs::create_directories(net());
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path net() const { return root_ / "class/net"; }
    void Adapter(const std::string& name, const char* device, const char* addrLen, const char* address, bool wireless = false) {
        const fs::path dir = net() / name;
        fs::create_directories(dir);
        if (device) fs::create_directory_symlink(root_ / device, dir / "device");
        if (wireless) fs::create_directories(dir / "wireless");
        std::ofstream(dir / "addr_len") << addrLen << "\n";
        std::ofstream(dir / "address") << address << "\n";
    }
    static std::string Text(const std::optional<std::array<std::uint8_t, 6>>& mac) {
        if (!mac) return "none";
        char buf[24];
        std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", (*mac)[0], (*mac)[1], (*mac)[2], (*mac)[3], (*mac)[4], (*mac)[5]);
        return buf;
    }

    fs::path root_;
};

TEST_F(FakeSysClassNet, FirstPhysicalAdapterWithARealSixByteAddressWins) {
    Adapter("lo", nullptr, "6", "00:00:00:00:00:00");
    Adapter("br0", nullptr, "6", "02:42:ac:11:00:01");                        // virtual: no device
    Adapter("veth0", "devices/virtual/net/veth0", "6", "0a:0b:0c:0d:0e:0f");  // device outside PCI
    Adapter("eth-zero", "devices/pci0000:00/0000:00:03.0", "6", "00:00:00:00:00:00");
    Adapter("ib0", "devices/pci0000:00/0000:00:04.0", "20", "80:00:00:48:fe:80:00:00:00:00:00:00:00:00:00:00:00:00:00:01");
    Adapter("wlp2s0", nullptr, "6", "a4:c3:f0:11:22:33", /*wireless=*/true);
    Adapter("enp0s5", "devices/pci0000:00/0000:00:05.0", "6", "52:54:00:AB:cd:EF");
    EXPECT_EQ(Text(platform::PrimaryAdapterMacIn(net().string())), "52:54:00:ab:cd:ef");

    fs::remove_all(net() / "enp0s5");
    EXPECT_EQ(Text(platform::PrimaryAdapterMacIn(net().string())), "a4:c3:f0:11:22:33");
    fs::remove_all(net() / "wlp2s0");
    EXPECT_EQ(Text(platform::PrimaryAdapterMacIn(net().string())), "none");
}

TEST_F(FakeSysClassNet, MalformedAddressesAreSkipped) {
    Adapter("eth0", "devices/pci0000:00/0000:00:03.0", "6", "52:54:00:12:34");
    Adapter("eth1", "devices/pci0000:00/0000:00:04.0", "6", "52:54:00:12:34:zz");
    Adapter("eth2", "devices/pci0000:00/0000:00:05.0", "6", "52-54-00-12-34-56");
    EXPECT_EQ(Text(platform::PrimaryAdapterMacIn(net().string())), "none");
    EXPECT_EQ(Text(platform::PrimaryAdapterMacIn((root_ / "missing").string())), "none");
}

TEST(LiveFacts, DescribeThisMachine) {
    const std::string exe = platform::CurrentExecutablePath();
    EXPECT_EQ(fs::path(exe).filename(), "system_tests");
    EXPECT_TRUE(fs::path(exe).is_absolute());
    EXPECT_FALSE(platform::OsPrettyName().empty());
#if defined(__x86_64__) || defined(__i386__)
    const auto cpu = platform::CpuIdLeaf1();
    EXPECT_NE(cpu.eax, 0u);               // family/model/stepping
    EXPECT_NE(cpu.edx & (1u << 0), 0u);   // every x86-64 processor has an FPU
#endif
    EXPECT_TRUE(platform::SystemVolumeSerial().has_value());
    EXPECT_FALSE(platform::IsWow64Process() && sizeof(void*) == 8);
}

}  // namespace
