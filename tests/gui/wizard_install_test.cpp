// The first page's way into an install with the real Setup, the demo maker service and
// the signed sample product: choosing the folder (through a stand-in folder chooser on
// PATH), installing, the finished page, and starting the product directly (no overlay).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/DemoEnvironment.h"
#include "tests/support/WizardTestSupport.h"
#include "tests/support/TestFiles.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using qvtest::kWindowClass;
using qvtest::kChinese;

using qvtest::ReadFile;
using qvtest::WriteFile;

class WizardInstall : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (the test command runs one)";
        ASSERT_TRUE(qvtest::WindowsOfClass(kWindowClass).empty()) << "a wizard of another test is still open";
        qvtest::DemoEnvironment::Options options;
        options.installerPath = std::string(QV_BUILD_DIR) + "/sample/MorvikBackupSetup.exe";
        demo = std::make_unique<qvtest::DemoEnvironment>(options);
    }

    void TearDown() override {
        // The product the test started, found by its window.
        for (const std::string& window : qvtest::WindowsOfClass("MORVIK_BACKUP_Frame")) {
            const std::string pid = qvtest::ShellOutput("xdotool getwindowpid " + window + " 2>/dev/null");
            if (!pid.empty() && std::all_of(pid.begin(), pid.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || c == '\n'; }))
                qvtest::Shell("kill " + pid);
        }
    }

    std::unique_ptr<qvtest::DemoEnvironment> demo;
    qvtest::WizardSandbox sandbox;
};

TEST_F(WizardInstall, ChosenFolderInstallFinishedPageAndDirectStart) {
    // The shipped skin with the overlay switched off.
    const fs::path skin = sandbox.Root() / "skin";
    fs::copy(fs::path(QV_SOURCE_DIR) / "skin", skin, fs::copy_options::recursive);
    std::string configure = ReadFile(skin / "configure" / "configure.xml");
    configure = std::regex_replace(configure, std::regex(R"(name="Gif_duration" text="3")"), R"(name="Gif_duration" text="0")");
    WriteFile(skin / "configure" / "configure.xml", configure);

    // A folder chooser that answers with a folder without the brand name.
    const fs::path chosen = sandbox.Root() / "apps";
    fs::create_directories(chosen);
    const fs::path bin = sandbox.Root() / "bin";
    WriteFile(bin / "zenity", "#!/bin/sh\necho '" + chosen.string() + "'\n");
    fs::permissions(bin / "zenity", fs::perms::owner_all);

    std::vector<std::string> lines = demo->EnvironmentLines();
    lines.push_back("SETUP_SKIN_DIR=" + skin.string());
    lines.push_back("PATH=" + bin.string() + ":" + std::getenv("PATH"));
    qvtest::SetupRun run(sandbox, {lines, {}});
    const std::string window = qvtest::WaitForWindow(kWindowClass, 20s);
    ASSERT_FALSE(window.empty()) << run.Output();
    ASSERT_TRUE(qvtest::WaitForSize(window, 650, 360, 10s));
    ASSERT_TRUE(qvtest::WaitForHit(demo->service(), "Download / 1.Launch / ", 15s));

    auto click = [&](const std::string& name, int height, const qvtest::TabPages& pages = {}) {
        auto rect = qvtest::ControlRect(name, kChinese, height, pages);
        ASSERT_TRUE(rect.has_value()) << name;
        ASSERT_TRUE(qvtest::ClickAt(window, qvtest::Centre(*rect)));
    };
    click("install_setting", 360);
    ASSERT_TRUE(qvtest::WaitForSize(window, 650, 560, 5s));
    click("browser_btn", 560, {{"set_layout", 1}});
    ASSERT_TRUE(qvtest::WaitForHit(demo->service(), "DownloaderInfo00 / DownloadPath / ", 10s));
    click("install_btn", 560);

    // The running page, then the finished page at 650 x 360.
    ASSERT_TRUE(qvtest::WaitForHit(demo->service(), "Download / 6.ProgramFinsh / First", 60s)) << run.Output();
    EXPECT_TRUE(qvtest::WaitForSize(window, 650, 360, 10s));
    const fs::path installed = chosen / "Morvik" / "Morvik Backup" / "MorvikBackup.exe";
    EXPECT_TRUE(fs::exists(installed)) << run.Output();
    auto hits = demo->Funnel();
    EXPECT_NE(std::find(hits.begin(), hits.end(), "Other / SetPath / "), hits.end());
    EXPECT_NE(std::find(hits.begin(), hits.end(), "DownloaderInfo / ClickBrowse / "), hits.end());

    // The finished row's button starts the product at once and ends the wizard.
    click("start_app", 360, {{"page_layout", 1}});
    auto code = run.WaitExit(15s);
    ASSERT_TRUE(code.has_value()) << "Setup still runs after the start";
    EXPECT_EQ(*code, 0);
    hits = demo->Funnel();
    const auto launch = std::find(hits.begin(), hits.end(), "Download / 7.ProgramLaunch / ");
    const auto start = std::find(hits.begin(), hits.end(), "Download / 9.StartWindow / 0");
    const auto close = std::find(hits.begin(), hits.end(), "CrashRate / Close / ");
    EXPECT_LT(launch, start) << ::testing::PrintToString(hits);
    EXPECT_LT(start, close);
    EXPECT_NE(close, hits.end());
    EXPECT_FALSE(qvtest::WaitForWindow("MORVIK_BACKUP_Frame", 10s).empty()) << "the product did not start";
}

}  // namespace
