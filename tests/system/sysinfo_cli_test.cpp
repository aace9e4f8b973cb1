// setup-tool sysinfo as support engineers and scripts run it: real process, real environment.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <string>

#include "tests/support/ShellCommand.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int exitCode = -1;
    std::map<std::string, std::string> lines;
    std::string stderrText;
};

class SysinfoCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("qv-sysinfo-cli-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    // Runs with exactly the given environment (plus PATH), so the caller's locale cannot leak in.
    static ToolRun Sysinfo(const std::string& env, const std::string& args = {}) {
        const qvtest::ShellResult result =
            qvtest::RunShellCommand("env -i PATH=/usr/bin:/bin " + env + " '" QV_SETUP_TOOL "' sysinfo " + args, dir_);
        ToolRun run;
        run.exitCode = result.exitCode;
        std::istringstream in(result.out);
        std::string line;
        while (std::getline(in, line)) {
            auto colon = line.find(": ");
            if (colon == std::string::npos) {
                if (!line.empty() && line.back() == ':') run.lines[line.substr(0, line.size() - 1)] = "";
                continue;
            }
            run.lines[line.substr(0, colon)] = line.substr(colon + 2);
        }
        run.stderrText = result.err;
        return run;
    }

    static inline fs::path dir_;
};

TEST_F(SysinfoCommand, ReportsTheUiLanguageOfTheLocaleEnvironment) {
    struct Case {
        const char* env;
        const char* localeEnv;
        const char* langId;
        const char* localeName;
        const char* country;
        const char* index;
    };
    const Case cases[] = {
        {"LANG=ja_JP.UTF-8", "LANG=ja_JP.UTF-8", "1041 (0x0411)", "Japanese_Japan", "Japan", "1"},
        {"LANG=de_AT.UTF-8", "LANG=de_AT.UTF-8", "3079 (0x0c07)", "German_Austria", "Austria", "4"},
        {"LANG=es_ES.UTF-8", "LANG=es_ES.UTF-8", "3082 (0x0c0a)", "Spanish_Spain (International sort)", "Spain", "3"},
        {"LANG=it_CH.UTF-8", "LANG=it_CH.UTF-8", "2064 (0x0810)", "Italian_Switzerland", "Swiss", "9"},
        {"LANG=ko_KR.JOHAB", "LANG=ko_KR.JOHAB", "2066 (0x0812)", "0x0812_0x0812", "Korea (Johab)", "11"},
        {"LANG=xx_YY.UTF-8", "LANG=xx_YY.UTF-8", "0 (0x0000)", "Neutral_Neutral", "Unknown--0", "0"},
        {"LANG=en_IN.UTF-8", "LANG=en_IN.UTF-8", "16393 (0x4009)", "0x4009_0x4009", "Unknown--16393", "0"},
        {"LC_ALL=de_AT.UTF-8 LC_MESSAGES=ja_JP.UTF-8 LANG=fr_FR.UTF-8", "LC_ALL=de_AT.UTF-8", "3079 (0x0c07)",
         "German_Austria", "Austria", "4"},
        {"LC_MESSAGES=ja_JP.UTF-8 LANG=fr_FR.UTF-8", "LC_MESSAGES=ja_JP.UTF-8", "1041 (0x0411)", "Japanese_Japan", "Japan", "1"},
        {"LANG=C", "LANG=C", "1033 (0x0409)", "English_United States", "America", "0"},
        {"LC_ALL=POSIX LANG=ja_JP.UTF-8", "LC_ALL=POSIX", "1033 (0x0409)", "English_United States", "America", "0"},
        {"", "(none set)", "1033 (0x0409)", "English_United States", "America", "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.env);
        ToolRun r = Sysinfo(c.env);
        ASSERT_EQ(r.exitCode, 0) << r.stderrText;
        EXPECT_EQ(r.lines["locale_env"], c.localeEnv);
        EXPECT_EQ(r.lines["langid"], c.langId);
        EXPECT_EQ(r.lines["locale_name"], c.localeName);
        EXPECT_EQ(r.lines["country"], c.country);
        EXPECT_EQ(r.lines["language_index"], c.index);
    }
}

TEST_F(SysinfoCommand, PrintsTheMachineAndItsOwnVersion) {
    ToolRun r = Sysinfo("LANG=C.UTF-8");
    ASSERT_EQ(r.exitCode, 0) << r.stderrText;
    EXPECT_FALSE(r.lines["os_name"].empty());
    // This build is 64-bit, so the system it runs on is too, whatever WOW64 says.
    EXPECT_EQ(r.lines["os_name_with_bits"], r.lines["os_name"] + " 64bit");
    EXPECT_EQ(fs::path(r.lines["executable"]), fs::canonical(QV_SETUP_TOOL));
    EXPECT_NE(r.lines["executable_version"], "");
    for (const char* key : {"cpuid_leaf1", "volume_serial", "adapter_mac", "network_alive"}) EXPECT_TRUE(r.lines.count(key)) << key;
    EXPECT_FALSE(r.lines.count("file_version"));
}

TEST_F(SysinfoCommand, FileVersionOfSetupAPeFixtureAndAFileWithoutOne) {
    const std::string pe = (dir_ / "versioned.exe").string(), bare = (dir_ / "bare.exe").string();
    const std::string gen = "python3 '" QV_SOURCE_DIR "/tests/fixtures/pe/make_pe.py' ";
    ASSERT_EQ(std::system((gen + "'" + pe + "' --version 1.2.3.4").c_str()), 0);
    ASSERT_EQ(std::system((gen + "'" + bare + "' --no-version").c_str()), 0);

    ToolRun setup = Sysinfo("", std::string("--file '") + QV_SETUP_EXE + "'");
    ASSERT_EQ(setup.exitCode, 0);
    EXPECT_EQ(setup.lines["file_version"], setup.lines["executable_version"]);
    EXPECT_TRUE(std::regex_match(setup.lines["file_version"], std::regex(R"(\d+\.\d+\.\d+\.\d+)")))
        << setup.lines["file_version"];

    ToolRun versioned = Sysinfo("", "--file '" + pe + "'");
    ASSERT_EQ(versioned.exitCode, 0);
    EXPECT_EQ(versioned.lines["file"], pe);
    EXPECT_EQ(versioned.lines["file_version"], "1.2.3.4");

    ToolRun without = Sysinfo("", "--file '" + bare + "'");
    ASSERT_EQ(without.exitCode, 0);
    ASSERT_TRUE(without.lines.count("file_version"));
    EXPECT_EQ(without.lines["file_version"], "");
}

TEST_F(SysinfoCommand, BadArgumentsAreUsageErrorsAndMissingFilesFailures) {
    EXPECT_EQ(Sysinfo("", "--file").exitCode, 2);
    EXPECT_EQ(Sysinfo("", "--verbose").exitCode, 2);
    EXPECT_EQ(Sysinfo("", "--file a --file b").exitCode, 2);
    ToolRun missing = Sysinfo("", "--file '" + (dir_ / "no-such-file").string() + "'");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.stderrText.find("no-such-file"), std::string::npos);
}

}  // namespace
