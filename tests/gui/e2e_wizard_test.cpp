// The real Setup end to end under the test's X server, against the demo maker service and
// download server with the signed sample product: every download failure with its box, the
// failure form and the retry; verification failures; an installer that keeps running; a
// run killed mid-download and started again; a reused download; the ways to close the
// wizard. Screenshots of each state in Simplified Chinese (the shipped skin) and English;
// of the pictured paths (running, finished, failed) also in Arabic and Hindi.
//
// Most runs use Downloader_type 1 (the first plain location, no speed test) so that a
// failure shows within seconds; the close and screenshot runs use the speed test (type 3).
// Setup's long limits are shortened through its QV_TEST_* variables.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/DemoEnvironment.h"
#include "tests/support/WizardTestSupport.h"
#include "ui/x11/X11Connection.h"
#include "tests/support/TestFiles.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qvtest::FakeMakerService;

namespace {

using qvtest::kWindowClass;
constexpr const char* kBoxClass = "MESSAGEBOX_UI_Frame";
constexpr const char* kInstallerPath = "/downloads/extra/MorvikBackupSetup.exe";
using qvtest::kEnglish;
using qvtest::kChinese;

// Where the message box layout (500 x 190) puts its yes button.
constexpr int kBoxYesX = 275;
constexpr int kBoxYesY = 159;

struct Language {
    int index;
    const char* suffix;     // of our screenshots
    const char* dialogTag;  // of the message box test's screenshots
    const char* locale;     // LANG of a skin that offers only this language
};
void PrintTo(const Language& language, std::ostream* out) { *out << language.suffix; }
constexpr Language kZh{kChinese, "zh", "zh-cn", "zh_CN.UTF-8"};
constexpr Language kEn{kEnglish, "en", "en", "en_US.UTF-8"};
constexpr Language kAr{8, "ar", "ar", "ar_SA.UTF-8"};
constexpr Language kHi{15, "hi", "hi", "hi_IN.UTF-8"};

using qvtest::ReadFile;
using qvtest::WriteFile;

bool IsNumber(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

// How far two pictures of the same size lie apart (0 same ... 1), from ImageMagick.
double Distance(const fs::path& a, const fs::path& b) {
    const std::string out = qvtest::ShellOutput("compare -metric RMSE '" + a.string() + "' '" + b.string() +
                                                "' null: 2>&1");
    std::smatch match;
    if (!std::regex_search(out, match, std::regex(R"(\(([0-9.e+-]+)\))"))) return 1.0;
    return std::stod(match[1].str());
}

// An X server resets when its last client leaves, and refuses connections meanwhile; a
// Setup started right after the previous one ended could meet that. The test keeps one
// connection of its own open for the whole program.
SkinUI::x11::X11Connection* KeepServerUp() {
    static std::unique_ptr<SkinUI::x11::X11Connection> connection = [] {
        std::string error;
        return SkinUI::x11::X11Connection::Open(&error);
    }();
    return connection.get();
}

class E2e : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (the test command runs one)";
        ASSERT_NE(KeepServerUp(), nullptr);
        ASSERT_TRUE(qvtest::WindowsOfClass(kWindowClass).empty()) << "a wizard of another test is still open";
        ASSERT_TRUE(qvtest::WindowsOfClass(kBoxClass).empty()) << "a message box of another test is still open";
    }

    void TearDown() override {
        if (run_) run_->Kill();
        KillInstallers();
    }

    // The demo service and download server; `type` is the configuration's Downloader_type.
    void MakeDemo(int type = 1, const std::string& installer = {}, const std::string& md5 = {}) {
        qvtest::DemoEnvironment::Options options;
        options.installerPath = installer.empty() ? std::string(QV_BUILD_DIR) + "/sample/MorvikBackupSetup.exe" : installer;
        options.downloaderType = type;
        options.md5 = md5;
        demo_ = std::make_unique<qvtest::DemoEnvironment>(options);
    }

    // Starts Setup in `language` and waits for its first page. The folder chooser on PATH
    // answers with the sandbox's "apps" folder.
    void Start(const Language& language, std::vector<std::string> environment = {}) {
        language_ = language;
        std::vector<std::string> lines = demo_->EnvironmentLines();
        if (!skinOverride_.empty()) {
            lines.push_back("SETUP_SKIN_DIR=" + skinOverride_.string());
            lines.push_back("LANG=zh_CN.UTF-8");
        } else if (language.index != kChinese) {
            const fs::path skin = qvtest::SkinOffering(sandbox.Root(), {language.index});
            lines.push_back("SETUP_SKIN_DIR=" + skin.string());
            lines.push_back(std::string("LANG=") + language.locale);
        } else {
            lines.push_back("SETUP_SKIN_DIR=" + (fs::path(QV_SOURCE_DIR) / "skin").string());
            lines.push_back("LANG=zh_CN.UTF-8");
        }
        lines.push_back("LC_ALL=");
        lines.push_back("LC_MESSAGES=");
        const fs::path bin = sandbox.Root() / "bin";
        fs::create_directories(Apps());
        WriteFile(bin / "zenity", "#!/bin/sh\necho '" + Apps().string() + "'\n");
        fs::permissions(bin / "zenity", fs::perms::owner_all);
        lines.push_back("PATH=" + bin.string() + ":" + std::getenv("PATH"));
        for (std::string& line : environment) lines.push_back(std::move(line));
        const std::size_t launches = Count("Download / 1.Launch / ");
        run_ = std::make_unique<qvtest::SetupRun>(sandbox, qvtest::SetupRun::Options{lines, {}});
        window_ = qvtest::WaitForWindow(kWindowClass, 20s);
        ASSERT_FALSE(window_.empty()) << run_->Output();
        ASSERT_TRUE(qvtest::WaitForSize(window_, 650, 360, 10s));
        ASSERT_TRUE(WaitForMore("Download / 1.Launch / ", launches, 15s));
    }

    void Click(const std::string& name, int height, const qvtest::TabPages& pages = {}) {
        auto rect = qvtest::ControlRect(name, language_.index, height, pages);
        ASSERT_TRUE(rect.has_value()) << name;
        ASSERT_TRUE(qvtest::ClickAt(window_, qvtest::Centre(*rect)));
    }

    // Chooses the sandbox's folder in the settings panel and presses install.
    void ChooseFolderAndInstall() {
        const std::size_t chosen = Count("DownloaderInfo00 / DownloadPath / ");
        const std::size_t started = Count("Download / 2.DownStart / ");
        Click("install_setting", 360);
        ASSERT_TRUE(qvtest::WaitForSize(window_, 650, 560, 5s));
        Click("browser_btn", 560, {{"set_layout", 1}});
        ASSERT_TRUE(WaitForMore("DownloaderInfo00 / DownloadPath / ", chosen, 10s));
        Click("install_btn", 560);
        ASSERT_TRUE(WaitForMore("Download / 2.DownStart / ", started, 10s)) << run_->Output();
    }

    // The start_app button of the finished or failure row (retry on the failure form).
    void ClickStartApp() { Click("start_app", 360, {{"page_layout", 1}}); }

    bool WaitFor(const std::string& hit, std::chrono::milliseconds limit = 30s) {
        return qvtest::WaitForHit(demo_->service(), hit, limit);
    }

    // Waits until `hit` arrived more often than `before` times.
    bool WaitForMore(const std::string& hit, std::size_t before, std::chrono::milliseconds limit) {
        return qvtest::WaitUntil([&] { return Count(hit) > before; }, limit);
    }

    std::size_t Count(const std::string& hit) const {
        const auto hits = demo_->Funnel();
        return static_cast<std::size_t>(std::count(hits.begin(), hits.end(), hit));
    }

    bool Has(const std::string& hit) const { return Count(hit) > 0; }

    // The box that shows now, and which kind of box it is: the message box test's picture
    // of this language it resembles most.
    std::string WaitForBox() {
        std::string box = qvtest::WaitForWindow(kBoxClass, 30s);
        if (box.empty()) return box;
        qvtest::WaitForSize(box, 500, 190, 5s);
        return box;
    }

    std::string KindOfBox(const std::string& box) {
        // Away from the box's buttons, so none is drawn hot; then let it paint.
        qvtest::Shell("xdotool mousemove 0 0");
        qvtest::WaitUntil([] { return false; }, 400ms);
        const fs::path shot = sandbox.Root() / "box.png";
        if (!qvtest::Screenshot(shot, box)) return "no picture";
        std::string best;
        double bestDistance = 2.0;
        for (const char* kind : {"AppExist", "Cancel", "InstallRunTimeOut", "InternetFail", "InternetTimeout", "MD5Fail",
                                 "NoEnoughSpace", "PathError", "Replace", "UrlFail"}) {
            const fs::path reference = fs::path(QV_SOURCE_DIR) / "docs" / "screenshots" /
                                       ("dialog_" + std::string(language_.dialogTag) + "_" + kind + ".png");
            const double distance = Distance(shot, reference);
            if (distance < bestDistance) {
                bestDistance = distance;
                best = kind;
            }
        }
        return best;
    }

    void ClickBoxYes(const std::string& box) {
        ASSERT_TRUE(qvtest::ClickAt(box, kBoxYesX, kBoxYesY));
        EXPECT_TRUE(qvtest::WaitUntil([&] { return qvtest::WindowsOfClass(kBoxClass).empty(); }, 10s)) << "the box stays";
    }

    // The wizard (with a box over it, when one shows) as docs/screenshots/e2e_<name>_<lang>.png.
    void Shoot(const std::string& name) {
        qvtest::Shell("xdotool mousemove 0 0");
        qvtest::WaitUntil([] { return false; }, 300ms);
        const std::string file = "e2e_" + name + "_" + language_.suffix + ".png";
        EXPECT_TRUE(qvtest::ScreenshotPainted(qvtest::ScreenshotPath(file, sandbox.Root()), window_, 10s)) << file;
    }

    fs::path Apps() const { return sandbox.Root() / "apps"; }
    fs::path InstalledProduct() const { return Apps() / "Morvik" / "Morvik Backup" / "MorvikBackup.exe"; }
    fs::path DownloadedInstaller() const { return sandbox.Temp() / "MorvikBackupSetup" / "MorvikBackupSetup1.0.0.0.exe"; }
    fs::path TaskFile() const { return DownloadedInstaller().string() + ".xml"; }

    // Installers this test's Setup started (found by the sandbox's path) and their children.
    std::vector<std::string> Installers() const {
        std::vector<std::string> pids;
        // "[/]tmp/...": a pattern that does not match the shell running pgrep.
        const std::string path = DownloadedInstaller().string();
        const std::string pattern = "[" + path.substr(0, 1) + "]" + path.substr(1);
        for (const std::string& pid : Lines(qvtest::ShellOutput("pgrep -f '" + pattern + "'"))) {
            if (IsNumber(pid)) pids.push_back(pid);
        }
        return pids;
    }

    void KillInstallers() {
        for (const std::string& pid : Installers()) {
            for (const std::string& child : Lines(qvtest::ShellOutput("pgrep -P " + pid))) {
                if (IsNumber(child)) qvtest::Shell("kill " + child);
            }
            qvtest::Shell("kill " + pid);
        }
    }

    void ExpectEndsWithAltF4() {
        ASSERT_TRUE(qvtest::SendKeys(window_, "alt+F4"));
        EXPECT_TRUE(run_->WaitExit(10s).has_value());
    }

    qvtest::WizardSandbox sandbox;
    std::unique_ptr<qvtest::DemoEnvironment> demo_;
    std::unique_ptr<qvtest::SetupRun> run_;
    std::string window_;
    Language language_ = kZh;
    fs::path skinOverride_;  // a skin folder of the test's own, in Simplified Chinese
};

// --- download failures ----------------------------------------------------------------

struct FailureCase {
    const char* name;
    int code;          // the download result
    const char* kind;  // the box
    int downloaderType;
    // Makes the download fail; the second makes it work again for the retry.
    void (*arrange)(qvtest::DemoEnvironment& demo, const fs::path& marker, std::vector<std::string>& environment);
    void (*heal)(qvtest::DemoEnvironment& demo, const fs::path& marker);
};

void PrintTo(const FailureCase& failure, std::ostream* out) { *out << failure.name; }

void ServeNormally(qvtest::DemoEnvironment& demo, const fs::path&) {
    demo.downloads().setOptions(kInstallerPath, {});
    demo.downloads().releaseStalls();
}

const FailureCase kFailures[] = {
    {"NoSize", -1, "UrlFail", 1,
     [](qvtest::DemoEnvironment& demo, const fs::path&, std::vector<std::string>&) {
         qvtest::FileOptions missing;
         missing.status = 404;
         demo.downloads().setOptions(kInstallerPath, missing);
     },
     ServeNormally},
    {"NoNetwork", -2, "InternetFail", 1,
     [](qvtest::DemoEnvironment&, const fs::path& marker, std::vector<std::string>& environment) {
         WriteFile(marker, "down\n");
         environment.push_back("QV_TEST_NETWORK_DOWN_FILE=" + marker.string());
     },
     [](qvtest::DemoEnvironment&, const fs::path& marker) { fs::remove(marker); }},
    {"Stall", -3, "InternetTimeout", 1,
     [](qvtest::DemoEnvironment& demo, const fs::path&, std::vector<std::string>& environment) {
         qvtest::FileOptions stall;
         stall.fault = qvtest::FaultKind::Stall;
         stall.faultAt = 100000;
         stall.faultTimes = -1;
         // The server lets go soon after the stall limit, so stopping need not wait out the request time-out.
         stall.stallMs = 5000;
         demo.downloads().setOptions(kInstallerPath, stall);
         environment.push_back("QV_TEST_STALL_LIMIT_MS=2000");
     },
     ServeNormally},
    {"ContentDelivery", -4, "InternetTimeout", 2,
     [](qvtest::DemoEnvironment& demo, const fs::path&, std::vector<std::string>&) {
         // Both locations on the content-delivery host, so no other location is tried.
         std::string reply = demo.ConfigurationReply();
         reply = std::regex_replace(reply, std::regex("<Download_url>[^<]*</Download_url>"),
                                    "<Download_url>" + demo.cdnUrl() + "</Download_url>");
         demo.service().SetReply(FakeMakerService::Endpoint::QueryDownloader, reply, "application/xml");
         qvtest::FileOptions drop;
         drop.fault = qvtest::FaultKind::Drop;
         drop.faultPerResponse = true;
         drop.faultAt = 0;
         drop.faultTimes = -1;
         demo.downloads().setOptions(kInstallerPath, drop);
     },
     ServeNormally},
};

class E2eFailure : public E2e, public ::testing::WithParamInterface<std::tuple<FailureCase, Language>> {};

TEST_P(E2eFailure, BoxThenFailureFormThenRetryInstalls) {
    const auto& [failure, language] = GetParam();
    MakeDemo(failure.downloaderType);
    const fs::path marker = sandbox.Root() / "network-down";
    std::vector<std::string> environment;
    failure.arrange(*demo_, marker, environment);
    Start(language, environment);
    if (HasFatalFailure()) return;
    ChooseFolderAndInstall();
    if (HasFatalFailure()) return;

    const std::string box = WaitForBox();
    ASSERT_FALSE(box.empty()) << run_->Output();
    EXPECT_EQ(KindOfBox(box), failure.kind);
    Shoot(std::string("box_") + failure.name);
    // The box is modal on the pipeline thread: the failure form waits for it.
    EXPECT_FALSE(Has("Download / 8.DownFail / First"));
    const std::string code = std::to_string(failure.code);
    EXPECT_TRUE(Has("Other / DownErrorCode / error" + code)) << ::testing::PrintToString(demo_->Funnel());
    EXPECT_TRUE(Has("DownloaderInfo00 / DownloaderFailed / " + code));
    ClickBoxYes(box);
    ASSERT_TRUE(WaitFor("Download / 8.DownFail / First", 10s));
    EXPECT_TRUE(qvtest::WaitForSize(window_, 650, 360, 5s));
    EXPECT_FALSE(fs::exists(InstalledProduct()));
    if (failure.code == -1) Shoot("failed");

    // Retry on the failure form: a new download with "Retry" labels, to the end.
    failure.heal(*demo_, marker);
    ClickStartApp();
    ASSERT_TRUE(WaitFor("Download / 8-1.ClickTryAgain / First", 10s)) << ::testing::PrintToString(demo_->Funnel());
    ASSERT_TRUE(WaitFor("Download / 6.ProgramFinsh / Retry", 60s)) << run_->Output();
    EXPECT_TRUE(fs::exists(InstalledProduct())) << run_->Output();
    for (const char* hit : {"Download / 3.Downloading... / Retry", "Download / 4.DownFinsh / Retry",
                            "Download / 5.ProgramInstall / Retry"}) {
        EXPECT_TRUE(Has(hit)) << hit;
    }
    EXPECT_EQ(Count("Download / 3.Downloading... / First"), 1u);
    EXPECT_TRUE(qvtest::WindowsOfClass(kBoxClass).empty());
    ExpectEndsWithAltF4();
}

INSTANTIATE_TEST_SUITE_P(Results, E2eFailure, ::testing::Combine(::testing::ValuesIn(kFailures), ::testing::Values(kZh, kEn)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).suffix;
                         });
// The failure form pictured in the right-to-left and the Devanagari language.
INSTANTIATE_TEST_SUITE_P(Pictured, E2eFailure, ::testing::Combine(::testing::Values(kFailures[0]), ::testing::Values(kAr, kHi)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).suffix;
                         });

// --- verification and the installer ----------------------------------------------------

class E2eVerification : public E2e, public ::testing::WithParamInterface<Language> {};

TEST_P(E2eVerification, BrokenSignatureShowsMd5FailAndClearsTheDownload) {
    // A copy whose content no longer matches its signature; the configured digest is the
    // copy's own, so only the signature fails.
    std::string bytes = ReadFile(std::string(QV_BUILD_DIR) + "/sample/MorvikBackupSetup.exe");
    ASSERT_GT(bytes.size(), 200u);
    bytes[40] = bytes[40] == 'x' ? 'y' : 'x';  // inside the script's comment line
    const fs::path tampered = sandbox.Root() / "tampered" / "MorvikBackupSetup.exe";
    WriteFile(tampered, bytes);
    MakeDemo(1, tampered.string());
    Start(GetParam());
    if (HasFatalFailure()) return;
    ChooseFolderAndInstall();
    if (HasFatalFailure()) return;

    const std::string box = WaitForBox();
    ASSERT_FALSE(box.empty()) << run_->Output();
    EXPECT_EQ(KindOfBox(box), "MD5Fail");
    Shoot("box_SignatureFail");
    // The report went out before the box; the download waits for the user's answer.
    ASSERT_TRUE(demo_->service().WaitForCount(FakeMakerService::Endpoint::ExceptionSend, 1, 5s));
    EXPECT_NE(demo_->service().Requests(FakeMakerService::Endpoint::ExceptionSend)[0].body.find(
                  "exception_code=Hash_Check_Fail_Cfg"),
              std::string::npos);
    EXPECT_TRUE(fs::exists(DownloadedInstaller()));
    EXPECT_TRUE(Has("DownloaderInfo00 / DownloaderFailed / -5"));
    ClickBoxYes(box);
    EXPECT_TRUE(WaitFor("Download / 8.DownFail / First", 10s));
    EXPECT_TRUE(qvtest::WaitUntil([&] { return !fs::exists(DownloadedInstaller()) && !fs::exists(TaskFile()); }, 5s))
        << "the download was not cleared";
    EXPECT_FALSE(fs::exists(InstalledProduct()));
    EXPECT_FALSE(Has("Download / 5.ProgramInstall / First"));
    ExpectEndsWithAltF4();
}

TEST_P(E2eVerification, InstallerStillRunningIsReportedAsTimedOutAndLeftRunning) {
    MakeDemo(1);
    // Each of the 242 waits 10 ms instead of a second, with a 10 ms pause: about 5 s.
    Start(GetParam(), {"QV_SAMPLE_INSTALL_DELAY=300", "QV_TEST_INSTALLER_WAIT_MS=10"});
    if (HasFatalFailure()) return;
    ChooseFolderAndInstall();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitFor("Download / 5.ProgramInstall / First", 30s)) << run_->Output();
    EXPECT_FALSE(Installers().empty()) << "the installer did not start";

    const std::string box = WaitForBox();
    ASSERT_FALSE(box.empty()) << run_->Output();
    EXPECT_EQ(KindOfBox(box), "InstallRunTimeOut");
    Shoot("box_InstallRunTimeOut");
    EXPECT_TRUE(WaitFor("DownloaderInfo / InstallFailed / ", 5s));
    EXPECT_TRUE(WaitFor("Download / 8.DownFail / First", 5s));
    EXPECT_FALSE(Installers().empty()) << "the installer was stopped";
    ClickBoxYes(box);
    EXPECT_TRUE(qvtest::WaitUntil([&] { return !fs::exists(DownloadedInstaller()); }, 5s));
    EXPECT_FALSE(Installers().empty()) << "the installer was stopped";
    EXPECT_FALSE(Has("Download / 6.ProgramFinsh / First"));
    EXPECT_FALSE(fs::exists(InstalledProduct()));
    KillInstallers();
    ExpectEndsWithAltF4();
}

INSTANTIATE_TEST_SUITE_P(Languages, E2eVerification, ::testing::Values(kZh, kEn),
                         [](const auto& info) { return std::string(info.param.suffix); });

TEST_F(E2e, DigestMismatchWithValidSignatureIsReportedAndInstalls) {
    MakeDemo(1, {}, "0123456789abcdef0123456789abcdef");
    Start(kZh);
    if (HasFatalFailure()) return;
    ChooseFolderAndInstall();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitFor("Download / 6.ProgramFinsh / First", 60s)) << run_->Output();
    EXPECT_TRUE(fs::exists(InstalledProduct()));
    ASSERT_EQ(demo_->service().Count(FakeMakerService::Endpoint::ExceptionSend), 1u);
    const auto report = demo_->service().Requests(FakeMakerService::Endpoint::ExceptionSend)[0];
    EXPECT_EQ(report.Field("exception_code"), "MD5_Check_Fail_Cfg" + report.Field("exception_code").substr(18));
    EXPECT_EQ(report.Field("pid"), "224");
    EXPECT_TRUE(qvtest::WindowsOfClass(kBoxClass).empty());
    ExpectEndsWithAltF4();
}

// --- an interrupted run -----------------------------------------------------------------

TEST_F(E2e, KilledDuringTheDownloadStartsOverNextTime) {
    MakeDemo(1);
    qvtest::FileOptions slow;
    slow.bytesPerSecond = 60000;
    demo_->downloads().setOptions(kInstallerPath, slow);
    Start(kZh);
    if (HasFatalFailure()) return;
    ChooseFolderAndInstall();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(qvtest::WaitUntil([&] { return demo_->downloads().bytesSent() > 150000; }, 30s));
    ASSERT_TRUE(qvtest::WaitUntil([&] { return fs::exists(TaskFile()); }, 10s)) << "no task file mid-download";
    qvtest::Shell("kill -KILL " + std::to_string(run_->Pid()));
    ASSERT_TRUE(run_->WaitExit(10s).has_value());
    ASSERT_TRUE(fs::exists(DownloadedInstaller()));
    EXPECT_FALSE(fs::exists(DownloadedInstaller().string() + ".db"));
    const std::vector<qvtest::TestHttpServer::Request> first = demo_->downloads().requests();

    // The next run has no verification record: it deletes the partial file and its task
    // file and fetches the whole installer again from the first byte.
    demo_->downloads().setOptions(kInstallerPath, {});
    demo_->downloads().resetCounters();
    Start(kZh);
    if (HasFatalFailure()) return;
    ChooseFolderAndInstall();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitForMore("Download / 6.ProgramFinsh / First", 0, 60s)) << run_->Output();
    EXPECT_TRUE(fs::exists(InstalledProduct()));
    const auto again = demo_->downloads().requests();
    ASSERT_FALSE(again.empty());
    std::vector<std::string> ranges;
    for (const auto& request : again) ranges.push_back(request.range);
    EXPECT_GE(demo_->downloads().bytesSent(), static_cast<std::int64_t>(demo_->installerBytes().size()))
        << ::testing::PrintToString(ranges);
    // Every range starts on a task boundary (tasks are 1 MiB): none resumes where the
    // killed run stopped.
    bool ranged = false;
    for (const auto& request : again) {
        if (request.range.empty()) continue;
        ranged = true;
        std::smatch match;
        ASSERT_TRUE(std::regex_match(request.range, match, std::regex(R"(bytes=([0-9]+)-[0-9]*)"))) << request.range;
        EXPECT_EQ(std::stoll(match[1].str()) % (1 << 20), 0) << request.range;
    }
    EXPECT_TRUE(ranged) << ::testing::PrintToString(ranges);
    // The killed run had got somewhere, so a resume would have started later than 0.
    bool killedMidway = false;
    for (const auto& request : first) killedMidway = killedMidway || !request.range.empty();
    EXPECT_TRUE(killedMidway);
    ExpectEndsWithAltF4();
}

struct RecordCase {
    const char* name;
    const char* version;  // in the verification record
    bool reused;
};

void PrintTo(const RecordCase& record, std::ostream* out) { *out << record.name; }

class E2eReuse : public E2e, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(E2eReuse, CompleteInstallerIsReusedOnlyWhenItsRecordMatches) {
    // A first run downloads, verifies (writing the record) and installs.
    MakeDemo(1);
    Start(kZh);
    if (HasFatalFailure()) return;
    ChooseFolderAndInstall();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitFor("Download / 6.ProgramFinsh / First", 60s)) << run_->Output();
    ExpectEndsWithAltF4();
    const fs::path record = DownloadedInstaller().string() + ".db";
    ASSERT_TRUE(fs::exists(DownloadedInstaller()));
    ASSERT_EQ(ReadFile(record), "1.0.0.0###" + demo_->installerMd5());
    if (!GetParam().reused) WriteFile(record, std::string(GetParam().version) + "###" + demo_->installerMd5());

    // The second run, same configuration from the service.
    fs::remove_all(Apps());
    demo_->downloads().resetCounters();
    Start(kZh);
    if (HasFatalFailure()) return;
    ChooseFolderAndInstall();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitForMore("Download / 6.ProgramFinsh / First", 1, 60s)) << run_->Output();
    EXPECT_TRUE(fs::exists(InstalledProduct()));
    std::vector<std::string> ranges;
    for (const auto& request : demo_->downloads().requests()) {
        if (!request.range.empty()) ranges.push_back(request.range);
    }
    const auto size = static_cast<std::int64_t>(demo_->installerBytes().size());
    if (GetParam().reused) {
        EXPECT_TRUE(ranges.empty()) << ::testing::PrintToString(ranges);
        EXPECT_LT(demo_->downloads().bytesSent(), size);
    } else {
        EXPECT_FALSE(ranges.empty());
        EXPECT_GE(demo_->downloads().bytesSent(), size);
    }
    ExpectEndsWithAltF4();
}

INSTANTIATE_TEST_SUITE_P(Records, E2eReuse,
                         ::testing::Values(RecordCase{"SameVersion", "1.0.0.0", true},
                                           RecordCase{"OtherVersion", "0.9.0.0", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- closing --------------------------------------------------------------------------

TEST_F(E2e, CloseButtonDuringTheDownloadAsksAndYesEndsTheProcess) {
    // The shipped running page offers only "hide"; the window answers a close button named
    // install_closebtn there too. This skin puts one right of the hide button, where the
    // hide button sits in the shipped layout.
    const fs::path skin = sandbox.Root() / "skin_close";
    fs::copy(fs::path(QV_SOURCE_DIR) / "skin", skin, fs::copy_options::recursive);
    std::string running = ReadFile(skin / "InstallRunning.xml");
    const std::size_t hide = running.find("<Button name=\"install_minbtn\"");
    ASSERT_NE(hide, std::string::npos);
    const std::size_t end = running.find("/>", hide);
    running.insert(end + 2, "\n        <Button name=\"install_closebtn\" width=\"110\" height=\"28\" text=\"Close\" />");
    WriteFile(skin / "InstallRunning.xml", running);
    skinOverride_ = skin;
    const auto where = qvtest::ControlRect("install_minbtn", kChinese, 360, {{"main_tablayout", 1}});
    ASSERT_TRUE(where.has_value());

    MakeDemo(1);
    qvtest::FileOptions slow;
    slow.bytesPerSecond = 50000;
    demo_->downloads().setOptions(kInstallerPath, slow);
    Start(kZh);
    if (HasFatalFailure()) return;
    ChooseFolderAndInstall();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(qvtest::WaitUntil([&] { return demo_->downloads().bytesSent() > 50000; }, 30s));
    ASSERT_TRUE(qvtest::ClickAt(window_, qvtest::Centre(*where)));
    const std::string box = WaitForBox();
    ASSERT_FALSE(box.empty()) << "no question was asked";
    EXPECT_EQ(KindOfBox(box), "Cancel");
    Shoot("box_Cancel");
    EXPECT_TRUE(WaitFor("DownloaderInfo / CloseDownloadWindow / ", 5s));
    EXPECT_TRUE(run_->Running());
    ClickBoxYes(box);
    const auto code = run_->WaitExit(10s);
    ASSERT_TRUE(code.has_value()) << "Setup still runs after yes";
    EXPECT_EQ(*code, 0);
    EXPECT_TRUE(Has("CrashRate / Close / ")) << ::testing::PrintToString(demo_->Funnel());
    EXPECT_FALSE(Has("Download / 4.DownFinsh / First"));
}

TEST_F(E2e, AltF4DuringTheDownloadQuitsAtOnce) {
    MakeDemo(1);
    qvtest::FileOptions slow;
    slow.bytesPerSecond = 50000;
    demo_->downloads().setOptions(kInstallerPath, slow);
    Start(kZh);
    if (HasFatalFailure()) return;
    ChooseFolderAndInstall();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(qvtest::WaitUntil([&] { return demo_->downloads().bytesSent() > 50000; }, 30s));
    ASSERT_TRUE(qvtest::SendKeys(window_, "alt+F4"));
    const auto code = run_->WaitExit(5s);
    ASSERT_TRUE(code.has_value()) << "Setup still runs after Alt+F4";
    EXPECT_TRUE(qvtest::WindowsOfClass(kBoxClass).empty());
    EXPECT_TRUE(Has("CrashRate / Close / "));
    EXPECT_FALSE(Has("DownloaderInfo / CloseDownloadWindow / "));
}

// The whole way with the speed test, pictured: choosing, running with its slides, finished;
// then the close button ends the finished wizard without asking.
class E2eClose : public E2e, public ::testing::WithParamInterface<Language> {};

TEST_P(E2eClose, FinishedWizardClosesAtOnce) {
    MakeDemo(3);
    Start(GetParam());
    if (HasFatalFailure()) return;
    Shoot("choosing");
    ChooseFolderAndInstall();
    if (HasFatalFailure()) return;
    EXPECT_TRUE(qvtest::WaitForSize(window_, 650, 360, 5s));
    qvtest::WaitUntil([] { return false; }, 1500ms);
    Shoot("running");
    ASSERT_TRUE(WaitFor("Download / 6.ProgramFinsh / First", 60s)) << run_->Output();
    EXPECT_TRUE(fs::exists(InstalledProduct()));
    qvtest::WaitUntil([] { return false; }, 500ms);
    Shoot("finished");

    Click("closebtn", 360);
    const auto code = run_->WaitExit(10s);
    ASSERT_TRUE(code.has_value()) << "Setup still runs after the close button";
    EXPECT_TRUE(qvtest::WindowsOfClass(kBoxClass).empty());
    EXPECT_TRUE(WaitFor("CrashRate / Close / ", 5s));
    EXPECT_TRUE(WaitFor("DownloaderInfo / CloseInstallCompleteWindow / ", 5s)) << ::testing::PrintToString(demo_->Funnel());
    EXPECT_FALSE(Has("DownloaderInfo / CloseDownloadWindow / "));
}

INSTANTIATE_TEST_SUITE_P(Languages, E2eClose, ::testing::Values(kZh, kEn, kAr, kHi),
                         [](const auto& info) { return std::string(info.param.suffix); });

}  // namespace
