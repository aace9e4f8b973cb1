// What the maker's analytics see of an install, with the real Setup, the demo service and
// the signed sample product: an install while the configuration service never answers, and
// an unattended install beside a wizard install of the same product.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/DemoEnvironment.h"
#include "tests/support/WizardTestSupport.h"
#include "tests/support/TestFiles.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Endpoint = qvtest::FakeMakerService::Endpoint;
using Behaviour = qvtest::FakeMakerService::Behaviour;

namespace {

using qvtest::kWindowClass;
using qvtest::kChinese;  // the only language the shipped skin offers

using qvtest::ReadFile;
using qvtest::WriteFile;

using qvtest::Position;

// "category / action" of every hit, leaving out those that depend on timing alone: the
// sender's launch event (queued by its own thread), the stall notice, and the download's
// own figures, which are sent only when the download fetched something the speed test had
// not (the sample product is smaller than what a quick speed test fetches, a slow one not).
std::vector<std::string> Funnel(const qvtest::FakeMakerService& service) {
    static const std::set<std::string> kTimed = {"launchDownloader001", "NoDownloadSpeed", "TotalRequestTimes",
                                                 "DownloadRateMin", "DownloadRateMax"};
    std::vector<std::string> steps;
    for (const auto& hit : service.Requests(Endpoint::Collect)) {
        const std::string action = hit.Field("ea");
        if (kTimed.count(action) != 0 || hit.Field("ec") == "DownloadSpeed") continue;
        steps.push_back(hit.Field("ec") + " / " + action);
    }
    return steps;
}

// Every hit of the run names one channel and the product.
void ExpectOneChannel(const qvtest::FakeMakerService& service) {
    const auto hits = service.Requests(Endpoint::Collect);
    ASSERT_FALSE(hits.empty());
    for (const auto& hit : hits) {
        EXPECT_EQ(hit.Field("cd3"), hits.front().Field("cd3")) << hit.Field("ea");
        EXPECT_EQ(hit.Field("cd4"), "Morvik Backup") << hit.Field("ea");
    }
}

class WizardFunnel : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (the test command runs one)";
        ASSERT_TRUE(qvtest::WindowsOfClass(kWindowClass).empty()) << "a wizard of another test is still open";
        qvtest::DemoEnvironment::Options options;
        options.installerPath = std::string(QV_BUILD_DIR) + "/sample/MorvikBackupSetup.exe";
        demo = std::make_unique<qvtest::DemoEnvironment>(options);
    }

    // The environment of a run in `sandbox`: the demo service, the shipped skin (or `skin`),
    // a Chinese locale, and a folder chooser that answers with `apps`.
    std::vector<std::string> Environment(const qvtest::WizardSandbox& sandbox, const fs::path& apps,
                                         const fs::path& skin = fs::path(QV_SOURCE_DIR) / "skin") {
        std::vector<std::string> lines = demo->EnvironmentLines();
        lines.push_back("SETUP_SKIN_DIR=" + skin.string());
        lines.insert(lines.end(), {"LANG=zh_CN.UTF-8", "LC_ALL=", "LC_MESSAGES="});
        const fs::path bin = sandbox.Root() / "bin";
        fs::create_directories(apps);
        WriteFile(bin / "zenity", "#!/bin/sh\necho '" + apps.string() + "'\n");
        fs::permissions(bin / "zenity", fs::perms::owner_all);
        lines.push_back("PATH=" + bin.string() + ":" + std::getenv("PATH"));
        return lines;
    }

    void Click(const std::string& window, const std::string& name, int height, const qvtest::TabPages& pages = {}) {
        auto rect = qvtest::ControlRect(name, kChinese, height, pages);
        ASSERT_TRUE(rect.has_value()) << name;
        ASSERT_TRUE(qvtest::ClickAt(window, qvtest::Centre(*rect)));
    }

    // Opens the settings, chooses the folder the chooser answers with, and installs.
    void ChooseFolderAndInstall(const std::string& window) {
        Click(window, "install_setting", 360);
        ASSERT_TRUE(qvtest::WaitForSize(window, 650, 560, 5s));
        // The chooser runs on the window thread, so the install click waits behind it.
        Click(window, "browser_btn", 560, {{"set_layout", 1}});
        Click(window, "install_btn", 560);
    }

    std::unique_ptr<qvtest::DemoEnvironment> demo;
};

TEST_F(WizardFunnel, SilentServiceWindowAtOnceAndInstallWithTheSkinsConfigurationAfterTheWait) {
    qvtest::WizardSandbox sandbox;
    // The configuration query is accepted and never answered (each try gives up after 6 s).
    demo->service().SetHangLimit(120s);
    demo->service().SetBehaviour(Endpoint::QueryDownloader, Behaviour::Hang);
    // The skin's own configuration names the demo's download server.
    const fs::path skin = sandbox.Root() / "skin";
    fs::copy(fs::path(QV_SOURCE_DIR) / "skin", skin, fs::copy_options::recursive);
    std::string configure = ReadFile(skin / "configure" / "configure.xml");
    configure = std::regex_replace(configure, std::regex(R"((name="(Extra_)?[Dd]ownload_url" text=")[^"]*")"),
                                   "$1" + demo->primaryUrl() + "\"");
    WriteFile(skin / "configure" / "configure.xml", configure);

    const fs::path apps = sandbox.Root() / "apps";
    qvtest::SetupRun run(sandbox, {Environment(sandbox, apps, skin), {}});
    const std::string window = qvtest::WaitForWindow(kWindowClass, 20s);
    ASSERT_FALSE(window.empty()) << run.Output();
    ASSERT_TRUE(qvtest::WaitForSize(window, 650, 360, 10s));
    ASSERT_TRUE(qvtest::WaitUntil(
        [&] { return qvtest::ShellOutput("xwininfo -id " + window).find("Map State: IsViewable") != std::string::npos; },
        2s));
    // Viewable while the first try of the first query still waits for its answer.
    EXPECT_LE(demo->service().Count(Endpoint::QueryDownloader), 1u);

    // Install is pressed while the service keeps silent: it waits, then goes on with the
    // skin's configuration.
    ChooseFolderAndInstall(window);
    const bool clickedWhileWaiting = !qvtest::WaitForHit(demo->service(), "CrashRate / Start / ", 0ms);
    ASSERT_TRUE(qvtest::WaitForHit(demo->service(), "Download / 6.ProgramFinsh / First", 120s)) << run.Output();
    EXPECT_TRUE(clickedWhileWaiting) << "the click came after the configuration settled";
    EXPECT_TRUE(fs::exists(apps / "Morvik" / "Morvik Backup" / "MorvikBackup.exe")) << run.Output();
    EXPECT_NE(run.Output().find(" No product configuration from the service within 10 s; using the skin's"),
              std::string::npos);
    EXPECT_NE(run.Output().find(" Configure Load From File! "), std::string::npos);

    // Launch events first, then what the user did meanwhile, in that order.
    const auto hits = qvtest::Hits(demo->service());
    ASSERT_FALSE(hits.empty());
    EXPECT_EQ(hits.front(), "CrashRate / Start / ");
    const long launch = Position(hits, "Download / 1.Launch / ");
    const long path = Position(hits, "DownloaderInfo00 / DownloadPath / ");
    const long click = Position(hits, "DownloaderInfo00 / ClickInstall001 / ");
    const long begin = Position(hits, "DownloaderInfo / BeginDownload001 / ");
    EXPECT_GE(launch, 0);
    EXPECT_LT(launch, path) << ::testing::PrintToString(hits);
    EXPECT_LT(path, click);
    EXPECT_LT(click, begin);
    ExpectOneChannel(demo->service());
}

TEST_F(WizardFunnel, UnattendedInstallSendsTheWizardsFunnelMarkedAtItsStart) {
    // The wizard: install into a chosen folder, wait for the finished page, close.
    std::vector<std::string> wizard;
    {
        qvtest::WizardSandbox sandbox;
        qvtest::SetupRun run(sandbox, {Environment(sandbox, sandbox.Root() / "apps"), {}});
        const std::string window = qvtest::WaitForWindow(kWindowClass, 20s);
        ASSERT_FALSE(window.empty()) << run.Output();
        ASSERT_TRUE(qvtest::WaitForSize(window, 650, 360, 10s));
        ASSERT_TRUE(qvtest::WaitForHit(demo->service(), "Download / 1.Launch / ", 15s));
        ChooseFolderAndInstall(window);
        ASSERT_TRUE(qvtest::WaitUntil(
            [&] {
                for (const std::string& hit : qvtest::Hits(demo->service()))
                    if (hit.rfind("DownloaderInfo00 / InstalllProgramTime / ", 0) == 0) return true;
                return false;
            },
            120s))
            << run.Output();
        Click(window, "closebtn", 360);
        ASSERT_TRUE(run.WaitExit(15s).has_value()) << "the wizard still runs after the close button";
        wizard = Funnel(demo->service());
        // Choosing the folder in the settings panel has no counterpart in an unattended run,
        // which names it on its command line (both report "SetPath").
        for (const char* choice : {"DownloaderInfo00 / DownloadSetting", "DownloaderInfo / ClickBrowse",
                                   "DownloaderInfo00 / DownloadPath"}) {
            EXPECT_EQ(std::count(wizard.begin(), wizard.end(), choice), 1) << choice;
            wizard.erase(std::remove(wizard.begin(), wizard.end(), choice), wizard.end());
        }
        EXPECT_NE(Position(qvtest::Hits(demo->service()), "Download / 2.DownStart / "), -1);
        ExpectOneChannel(demo->service());
    }

    // The same product, unattended, on a machine of its own (the first-run facts again).
    demo->service().ClearRequests();
    qvtest::WizardSandbox sandbox;
    const fs::path apps = sandbox.Root() / "apps";
    qvtest::SetupRun run(sandbox, {Environment(sandbox, apps), {"/S", "/DIR=" + apps.string()}});
    auto code = run.WaitExit(180s);
    ASSERT_TRUE(code.has_value()) << run.Output();
    EXPECT_EQ(*code, 0) << run.Output();
    EXPECT_EQ(Funnel(demo->service()), wizard);
    const auto hits = qvtest::Hits(demo->service());
    EXPECT_NE(Position(hits, "Download / 2.DownStart / Unattended"), -1) << ::testing::PrintToString(hits);
    EXPECT_NE(Position(hits, "DownloaderInfo00 / launchDownloader001 / "), -1);
    ExpectOneChannel(demo->service());
}

}  // namespace
