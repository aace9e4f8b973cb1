// The wizard's start-up, run as the real Setup under the test's X server against the fake
// maker service: where the configuration comes from, the log file, the launch events and
// the first-run marker, the single instance, the start-up language, and Alt+F4.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/FakeMakerService.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WizardTestSupport.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qvtest::FakeMakerService;
using Endpoint = FakeMakerService::Endpoint;

namespace {

using qvtest::kWindowClass;
using qvtest::kChinese;  // the only language the shipped skin offers

using qvtest::ReadFile;

class WizardStartup : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (the test command runs one)";
        ASSERT_TRUE(qvtest::WindowsOfClass(kWindowClass).empty()) << "a wizard of another test is still open";
    }

    std::unique_ptr<qvtest::SetupRun> Start(std::vector<std::string> environment = {}) {
        auto lines = qvtest::ServiceEnvironment(service);
        lines.insert(lines.end(), environment.begin(), environment.end());
        return std::make_unique<qvtest::SetupRun>(sandbox, qvtest::SetupRun::Options{lines, {}});
    }

    // Starts Setup and waits for its window at its first height.
    std::string StartAndWait(qvtest::SetupRun& run) {
        std::string window = qvtest::WaitForWindow(kWindowClass, 20s);
        EXPECT_FALSE(window.empty()) << "exit: " << run.WaitExit(0ms).value_or(-1) << "\n" << run.Output();
        if (!window.empty()) {
            EXPECT_TRUE(qvtest::WaitForSize(window, 650, 360, 10s));
        }
        return window;
    }

    // Alt+F4 ends Setup at once, after the close event has reached the collector.
    void CloseWithAltF4(qvtest::SetupRun& run, const std::string& window) {
        const std::size_t before = service.Count(Endpoint::Collect);
        ASSERT_TRUE(qvtest::SendKeys(window, "alt+F4"));
        auto code = run.WaitExit(10s);
        ASSERT_TRUE(code.has_value()) << "Setup still runs after Alt+F4";
        EXPECT_EQ(*code, 0);
        auto hits = qvtest::Hits(service);
        ASSERT_GT(hits.size(), before);
        EXPECT_NE(std::find(hits.begin() + static_cast<long>(before), hits.end(), "CrashRate / Close / "), hits.end());
    }

    qvtest::WizardSandbox sandbox;
    FakeMakerService service;
};

// True when the X server reports the window as viewable (mapped, and its parents too).
bool Viewable(const std::string& window, const std::string& display = "") {
    const std::string prefix = display.empty() ? "" : "DISPLAY=" + display + " ";
    return qvtest::ShellOutput(prefix + "xwininfo -id " + window + " 2>/dev/null").find("Map State: IsViewable") !=
           std::string::npos;
}

// An image signature of one control's rectangle in the window as it shows now.
std::string PixelsOf(const std::string& window, const SkinUI::TRect& rect, const fs::path& scratch) {
    if (!qvtest::Screenshot(scratch, window)) return {};
    return qvtest::ShellOutput("convert " + scratch.string() + " -crop " + std::to_string(rect.right - rect.left) + "x" +
                               std::to_string(rect.bottom - rect.top) + "+" + std::to_string(rect.left) + "+" +
                               std::to_string(rect.top) + " +repage -format '%#' info: 2>/dev/null");
}

// Index of a hit in the list, or -1.
using qvtest::Position;

TEST_F(WizardStartup, ServiceConfigurationLaunchEventsFirstRunMarkerAndAltF4) {
    auto run = Start({"LANG=en_US.UTF-8", "LC_ALL=", "LC_MESSAGES="});
    std::string window = StartAndWait(*run);
    ASSERT_FALSE(window.empty());

    EXPECT_TRUE(run->WaitForOutput(" Configure Load From XML! ", 5s)) << run->Output();
    EXPECT_EQ(service.Count(Endpoint::QueryDownloader), 1u);
    EXPECT_NE(run->Output().find("test\n"), std::string::npos);
    EXPECT_NE(run->Output().find(" Request For Product Config -- [Downloader Id]: 224 [Site Id]: 127 [Language Id]: 1033"),
              std::string::npos);

    // Launch events, in the order the window queues them.
    ASSERT_TRUE(qvtest::WaitForHit(service, "DownloaderInfo00 / launchDownloader001 / ", 15s));
    ASSERT_TRUE(qvtest::WaitUntil(
        [&] {
            auto hits = qvtest::Hits(service);
            return std::any_of(hits.begin(), hits.end(), [](const std::string& h) { return h.rfind("DownloaderInfo00 / Country / ", 0) == 0; });
        },
        15s));
    auto hits = qvtest::Hits(service);
    const long start = Position(hits, "CrashRate / Start / ");
    const long os = std::find_if(hits.begin(), hits.end(), [](const std::string& h) { return h.rfind("PC / SysOS / ", 0) == 0; }) - hits.begin();
    const long language = std::find_if(hits.begin(), hits.end(), [](const std::string& h) { return h.rfind("PC / SysLanguage / ", 0) == 0; }) - hits.begin();
    const long screen = std::find_if(hits.begin(), hits.end(), [](const std::string& h) { return h.rfind("PC / SysScreenResolution / ", 0) == 0; }) - hits.begin();
    const long launch = Position(hits, "Download / 1.Launch / ");
    const long country = std::find_if(hits.begin(), hits.end(), [](const std::string& h) { return h.rfind("DownloaderInfo00 / Country / ", 0) == 0; }) - hits.begin();
    ASSERT_GE(start, 0);
    EXPECT_LT(start, os);
    EXPECT_LT(os, language);
    EXPECT_LT(language, screen);
    EXPECT_LT(screen, launch);
    EXPECT_LT(launch, country) << ::testing::PrintToString(hits);
    ASSERT_LT(country, static_cast<long>(hits.size()));
    EXPECT_EQ(hits[static_cast<std::size_t>(country)], "DownloaderInfo00 / Country / America");
    // This build is 64-bit, so the system it runs on is as well.
    ASSERT_LT(os, static_cast<long>(hits.size()));
    EXPECT_NE(hits[static_cast<std::size_t>(os)].find(" 64bit"), std::string::npos);

    // The first-run marker is kept; the next start sends no "PC" facts.
    EXPECT_NE(ReadFile(sandbox.Registry() / "HKLM.reg").find("\"GA_PC\"=\"1\""), std::string::npos);
    CloseWithAltF4(*run, window);

    service.ClearRequests();
    auto second = Start();
    window = StartAndWait(*second);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(qvtest::WaitForHit(service, "Download / 1.Launch / ", 15s));
    for (const std::string& hit : qvtest::Hits(service)) EXPECT_NE(hit.rfind("PC / ", 0), 0u) << hit;
    CloseWithAltF4(*second, window);
}

TEST_F(WizardStartup, UnreachableServiceGivesThreeAttemptsAndTheSkinConfiguration) {
    service.SetBehaviour(Endpoint::QueryDownloader, FakeMakerService::Behaviour::Fail);
    auto run = Start();
    std::string window = StartAndWait(*run);
    ASSERT_FALSE(window.empty());
    // The window does not wait for the configuration; the attempts end soon after.
    ASSERT_TRUE(run->WaitForOutput(" Configure Load From File! ", 15s)) << run->Output();
    // Three attempts of the web-service query, each logged (the client itself asks up to
    // three times per attempt).
    const std::string queries = ReadFile(sandbox.Temp() / "QV_GetDownloaderInfo.log");
    std::size_t attempts = 0;
    for (std::size_t at = queries.find("GetDownloaderInfo..."); at != std::string::npos;
         at = queries.find("GetDownloaderInfo...", at + 1))
        ++attempts;
    EXPECT_EQ(attempts, 3u) << queries;
    EXPECT_GE(service.Count(Endpoint::QueryDownloader), 3u);

    // An installable product downloads to the temporary folder; the log lies beside it.
    const fs::path log = sandbox.Temp() / "MorvikBackupSetup" / "MorvikBackupSetup1.0.0.0.exe.log";
    ASSERT_TRUE(qvtest::WaitUntil([&] { return ReadFile(log).find(" Configure Load From File! ") != std::string::npos; }, 5s))
        << run->Output();
    const std::string text = ReadFile(log);
    EXPECT_NE(text.find(" [Software Name]: Morvik Backup"), std::string::npos);
    EXPECT_NE(text.find(" Screen: "), std::string::npos);
    EXPECT_NE(text.find("--[Thread]("), std::string::npos);
    CloseWithAltF4(*run, window);
}

TEST_F(WizardStartup, SecondStartFocusesTheFirstAndEnds) {
    auto first = Start();
    std::string window = StartAndWait(*first);
    ASSERT_FALSE(window.empty());

    auto second = Start();
    auto code = second->WaitExit(10s);
    ASSERT_TRUE(code.has_value()) << "the second Setup keeps running";
    EXPECT_EQ(*code, 0);
    EXPECT_EQ(qvtest::WindowsOfClass(kWindowClass).size(), 1u);
    EXPECT_EQ(second->Output().find("Request For Product Config"), std::string::npos) << "the second start built a window";
    EXPECT_TRUE(qvtest::WaitUntil([&] { return qvtest::ShellOutput("xdotool getwindowfocus 2>/dev/null").find(window) == 0; }, 5s));
    EXPECT_TRUE(first->Running());
    CloseWithAltF4(*first, window);
}

TEST_F(WizardStartup, JapaneseUserGetsSimplifiedChineseFromTheShippedSkin) {
    auto run = Start({"LANG=ja_JP.UTF-8", "LC_ALL=", "LC_MESSAGES="});
    std::string window = StartAndWait(*run);
    ASSERT_FALSE(window.empty());
    EXPECT_TRUE(qvtest::WaitForHit(service, "DownloaderInfo00 / Country / Japan", 15s));
    // Only the Simplified Chinese item shows: its licence is what the window applied.
    EXPECT_TRUE(qvtest::WaitForHit(service, "DownloaderInfo00 / LanguageSetting / ChangeLanguageToChinese", 15s));
    for (const std::string& hit : qvtest::Hits(service)) EXPECT_NE(hit, "DownloaderInfo00 / LanguageSetting / ChangeLanguageToJapanese");
    CloseWithAltF4(*run, window);
}

TEST_F(WizardStartup, SlowServiceWindowAtOnceThenTheServicesProductAndOneChannelOnEveryHit) {
    // The configuration query answers only once the test has looked at the window (a few
    // seconds; the first try of the query gives up after 6 s, the window's wait after 10 s).
    service.SetHangLimit(60s);
    service.SetBehaviour(Endpoint::QueryDownloader, FakeMakerService::Behaviour::Hang);
    auto run = Start({"LANG=zh_CN.UTF-8", "LC_ALL=", "LC_MESSAGES="});
    std::string window = StartAndWait(*run);
    ASSERT_FALSE(window.empty());
    EXPECT_TRUE(qvtest::WaitUntil([&] { return Viewable(window); }, 2s));
    // On screen while the first query is still unanswered, and nothing reported yet: the
    // launch events wait for the configuration.
    EXPECT_LE(service.Count(Endpoint::QueryDownloader), 1u);
    EXPECT_EQ(service.Count(Endpoint::Collect), 0u) << ::testing::PrintToString(qvtest::Hits(service));
    const auto name = qvtest::ControlRect("text_product_name", kChinese);
    const auto connecting = qvtest::ControlRect("text_connecting", kChinese);
    ASSERT_TRUE(name && connecting);
    const fs::path scratch = sandbox.Root() / "shot.png";
    const std::string nameBefore = PixelsOf(window, *name, scratch);
    const std::string connectingBefore = PixelsOf(window, *connecting, scratch);
    ASSERT_FALSE(nameBefore.empty());
    ASSERT_EQ(run->Output().find(" Configure Load From"), std::string::npos) << "settled before the service answered";
    service.SetBehaviour(Endpoint::QueryDownloader, FakeMakerService::Behaviour::Answer);
    service.ReleaseHangs();

    // Then the service's product ("Quorvane Studio") replaces the skin's name, and the
    // connecting line goes.
    ASSERT_TRUE(run->WaitForOutput(" Configure Load From XML! ", 20s)) << run->Output();
    EXPECT_NE(run->Output().find(" [Software Name]: Quorvane Studio"), std::string::npos);
    EXPECT_TRUE(qvtest::WaitUntil([&] { return PixelsOf(window, *name, scratch) != nameBefore; }, 5s));
    EXPECT_TRUE(qvtest::WaitUntil([&] { return PixelsOf(window, *connecting, scratch) != connectingBefore; }, 5s));

    ASSERT_TRUE(qvtest::WaitForHit(service, "DownloaderInfo00 / launchDownloader001 / ", 15s));
    ASSERT_TRUE(qvtest::WaitForHit(service, "DownloaderInfo00 / LanguageSetting / ChangeLanguageToChinese", 15s));
    CloseWithAltF4(*run, window);
    auto hits = service.Requests(Endpoint::Collect);
    ASSERT_FALSE(hits.empty());
    EXPECT_EQ(hits.front().Field("ec") + " / " + hits.front().Field("ea"), "CrashRate / Start");
    for (const auto& hit : hits) {
        EXPECT_EQ(hit.Field("cd3"), hits.front().Field("cd3")) << hit.Field("ea");
        EXPECT_EQ(hit.Field("cd4"), "Quorvane Studio") << hit.Field("ea");
    }
    EXPECT_NE(hits.front().Field("cd3"), "0");
    // The language chosen before the configuration came is still reported after the launch.
    auto names = qvtest::Hits(service);
    EXPECT_LT(Position(names, "Download / 1.Launch / "), Position(names, "DownloaderInfo00 / Country / China"));
}

// A private X server whose window manager area (_NET_WORKAREA, as a panel leaves it) is
// smaller than the screen. Ended with the object. It must not reset when xprop, its first
// client, leaves: a reset drops the property and refuses Setup's connection meanwhile.
class PanelledScreen {
public:
    PanelledScreen() : folder_("qv-xvfb-") {
        const fs::path display = folder_.path() / "display";
        pid_ = qvtest::ShellOutput("Xvfb -displayfd 3 -screen 0 1024x768x24 -noreset -nolisten tcp 3>" + display.string() +
                                   " >/dev/null 2>&1 & echo $!");
        while (!pid_.empty() && pid_.back() == '\n') pid_.pop_back();
        qvtest::WaitUntil([&] { return !ReadFile(display).empty(); }, 10s);
        display_ = ":" + ReadFile(display);
        while (!display_.empty() && display_.back() == '\n') display_.pop_back();
    }
    ~PanelledScreen() {
        if (!pid_.empty()) qvtest::Shell("kill " + pid_ + " 2>/dev/null");
    }
    const std::string& Display() const { return display_; }

private:
    qvtest::TempFolder folder_;
    std::string pid_;
    std::string display_;
};

TEST_F(WizardStartup, ScreenResolutionIsTheWholeScreenNotTheWorkArea) {
    PanelledScreen screen;
    ASSERT_NE(screen.Display(), ":");
    ASSERT_EQ(qvtest::Shell("DISPLAY=" + screen.Display() +
                            " xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA '0, 0, 1024, 700'"),
              0);
    auto run = Start({"DISPLAY=" + screen.Display()});
    ASSERT_TRUE(qvtest::WaitForHit(service, "Download / 1.Launch / ", 60s)) << run->Output();
    auto hits = qvtest::Hits(service);
    EXPECT_NE(Position(hits, "PC / SysScreenResolution / 1024*768"), -1) << ::testing::PrintToString(hits);
    EXPECT_NE(run->Output().find(" Screen: 1024*768, "), std::string::npos);
    run->Kill();
}

}  // namespace
