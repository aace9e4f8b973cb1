// The wizard's message box on a real X server: every kind with its texts, icon and
// buttons in English, Simplified Chinese, Arabic and Hindi, the button effects on the owner, Escape, a
// box raised on another thread than its owner's, and the confirmed cancel question that
// ends the process after its analytics hit reached the collector (in a child process).
//
// The boxes run modally on a second thread, as the install pipeline raises them; the
// test thread owns the owner window and keeps its loop running. Set
// QV_DIALOG_SCREENSHOT_DIR to keep a picture of every kind (docs/screenshots).

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "src/language/CLanguageTexts.h"
#include "tests/support/FakeMakerService.h"
#include "src/dialogs/MessageBoxWnd.h"
#include "platform/Process.h"
#include "src/telemetry/IEventReporter.h"
#include "src/telemetry/UserLogReporter.h"
#include "ui/CControl.h"
#include "ui/CControlHost.h"
#include "ui/CImage.h"
#include "ui/CProgress.h"
#include "ui/CSkinPackage.h"
#include "ui/x11/CSkinWindow.h"
#include "ui/x11/X11EventLoop.h"

using namespace SkinUI;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using qvtest::FakeMakerService;

namespace {

const char* const kOwnerLayout = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="600,400">
  <Font name="Tahoma" size="13" />
  <VerticalLayout bkcolor="#FFF0F0F0">
    <Progress name="progress" height="10" min="0" max="100" value="0" hor="true" bkcolor="#FF202020" foreimage="skin\progress.png" />
    <Button name="btn" width="110" height="28" bkcolor="#FF8080FF" />
    <HorizontalLayout />
  </VerticalLayout>
</Window>
)";

std::string OwnerSkinCopy() {
    static const std::string folder = [] {
        fs::path dir = fs::temp_directory_path() /
                       ("qv_dialog_skin_" + std::to_string(Clock::now().time_since_epoch().count()));
        fs::copy(fs::path(QV_SOURCE_DIR) / "skin", dir, fs::copy_options::recursive);
        std::ofstream(dir / "OwnerWnd.xml") << kOwnerLayout;
        return dir.string();
    }();
    return folder;
}

class RecordingReporter : public IEventReporter {
public:
    int ReportEvent(const std::string& category, const std::string& action, const std::string& label,
                    bool immediate) override {
        events.push_back(category + "/" + action + "/" + label + (immediate ? "!" : ""));
        return 0;
    }
    std::vector<std::string> events;
};

class OwnerWnd : public CSkinWindow {
public:
    std::vector<std::uint32_t> messages;  // private messages received
    std::vector<std::uintptr_t> syscommands;
    std::vector<std::string> clicks;
    std::atomic<int> paints{0};

protected:
    std::string GetWindowClassName() const override { return "QV_TEST_OWNER"; }
    std::string GetSkinFile() const override { return "OwnerWnd.xml"; }
    void OnClick(TNotify& msg) override { clicks.push_back(msg.sender->GetName()); }
    std::intptr_t HandleWindowMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam,
                                      bool& handled) override {
        if (message >= WM_USER && message < WM_USER + 100) messages.push_back(message);
        if (message == WM_SYSCOMMAND) syscommands.push_back(wparam);
        return CSkinWindow::HandleWindowMessage(message, wparam, lparam, handled);
    }
    void OnPaint() override {
        CSkinWindow::OnPaint();
        ++paints;
    }
};

// One box running modally on its own thread; the test owns the box.
class BoxRun {
public:
    BoxRun(MessageKind kind, int language, OwnerWnd* owner, IEventReporter& reporter)
        : box_(std::make_unique<MessageBoxWnd>(kind, language, reporter)) {
        thread_ = std::thread([this, owner] {
            result_ = box_->ShowModal(owner);
            done_ = true;
        });
    }
    ~BoxRun() {
        if (thread_.joinable()) thread_.join();
    }
    MessageBoxWnd* box() const { return box_.get(); }
    bool Shown() const { return box_->IsShown(); }
    bool Done() const { return done_; }
    MessageBoxResult Result() {
        if (thread_.joinable()) thread_.join();
        return result_;
    }

private:
    std::unique_ptr<MessageBoxWnd> box_;
    std::atomic<MessageBoxResult> result_{MessageBoxResult::NoWindow};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

class MessageBoxWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!std::getenv("DISPLAY")) return;
        setenv("SETUP_SKIN_DIR", OwnerSkinCopy().c_str(), 1);
        std::setlocale(LC_CTYPE, "C.UTF-8");
    }
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (the test command runs one)";
        ASSERT_NE(CSkinPackage::Current(), nullptr);
        ASSERT_NE(x11::X11EventLoop::ForCurrentThread(), nullptr);
    }

    x11::X11EventLoop& loop() { return *x11::X11EventLoop::ForCurrentThread(); }

    void Pump(int ms, const std::function<bool()>& done = [] { return false; }) {
        auto until = Clock::now() + std::chrono::milliseconds(ms);
        Ticker ticker;
        loop().RunUntil([&] { return done() || Clock::now() >= until; });
    }

    void OpenOwner(OwnerWnd& owner) {
        ASSERT_TRUE(owner.Create(nullptr, "owner", UI_WNDSTYLE_FRAME, 0, 40, 40, 100, 100));
        owner.ShowWindow(true, true);
        Pump(2000, [&] { return owner.paints > 0; });
        ASSERT_GT(owner.paints.load(), 0);
    }

    // Waits (pumping the owner's loop) until the box is on screen and painted.
    void WaitShown(BoxRun& run) {
        Pump(5000, [&] { return run.Shown(); });
        ASSERT_TRUE(run.Shown());
        Pump(300);
    }

    void Run(const std::string& command) {
        std::atomic<bool> finished{false};
        int rc = -1;
        std::thread runner([&] {
            rc = std::system(command.c_str());
            finished = true;
        });
        Pump(30000, [&] { return finished.load(); });
        runner.join();
        ASSERT_EQ(rc, 0) << command;
    }

    // Screen coordinates of the middle of a box control.
    static std::string At(MessageBoxWnd* box, const char* control) {
        int x, y, w, h;
        box->Bounds(x, y, w, h);
        TRect pos = box->FindControl(control)->GetPos();
        return std::to_string(x + (pos.left + pos.right) / 2) + " " + std::to_string(y + (pos.top + pos.bottom) / 2);
    }

    void Click(MessageBoxWnd* box, const char* control) { Run("xdotool mousemove " + At(box, control) + " click 1"); }

    // The box as the X server shows it, decoded.
    std::shared_ptr<CImage> Screenshot(MessageBoxWnd* box, const std::string& path) {
        Run("import -window " + std::to_string(box->id()) + " '" + path + "'");
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return CImage::Decode(std::as_bytes(std::span(bytes.data(), bytes.size())));
    }

    static std::shared_ptr<CImage> PackageImage(const std::string& entry) {
        std::vector<std::byte> bytes;
        EXPECT_EQ(CSkinPackage::Current()->ReadBinary(entry, 1 << 24, bytes), PackageResult::PACKAGE_OK);
        return CImage::Decode(bytes);
    }

    class Ticker : public x11::X11Window {
    public:
        Ticker() {
            CreateParams params;
            params.className = "QV_TEST_TICK";
            if (Create(params)) SetTimer(1, 5);
        }
    };
};

// Mean difference of the RGB channels of two pictures over `rect` of `a` and the same
// size at the origin of `b`.
double MeanDifference(const CImage& a, const TRect& rect, const CImage& b) {
    double sum = 0;
    int n = 0;
    for (int y = rect.top; y < rect.bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x) {
            std::uint32_t p = a.Pixel(x, y), q = b.Pixel(x - rect.left, y - rect.top);
            // The icon's see-through pixels show the box's white background.
            std::uint32_t qa = q >> 24;
            for (int shift = 0; shift < 24; shift += 8) {
                int qc = static_cast<int>((q >> shift) & 0xFF) + static_cast<int>(255 - qa);
                sum += std::abs(static_cast<int>((p >> shift) & 0xFF) - qc);
                ++n;
            }
        }
    }
    return sum / n;
}

struct TKindCase {
    MessageKind kind;
    const char* icon;  // empty: the layout's
    bool noShown;
    bool clearsDownload;
};

const TKindCase kKindCases[] = {
    {MessageKind::Replace, "skin\\message_help.png", true, false},
    {MessageKind::CloseWithoutAsking, "", true, false},
    {MessageKind::Cancel, "skin\\message_help.png", true, false},
    {MessageKind::AppExist, "skin\\message_help.png", false, false},
    {MessageKind::PathError, "skin\\message_exclamation.png", false, false},
    {MessageKind::AlternativeLayout, "", false, false},
    {MessageKind::InstallRunTimeOut, "skin\\message_exclamation.png", false, true},
    {MessageKind::MD5Fail, "skin\\message_exclamation.png", false, true},
    {MessageKind::UrlFail, "skin\\message_exclamation.png", false, false},
    {MessageKind::InternetFail, "skin\\message_exclamation.png", false, false},
    {MessageKind::InternetTimeout, "skin\\message_exclamation.png", false, false},
    {MessageKind::NoEnoughSpace, "skin\\message_exclamation.png", false, false},
    {MessageKind::ClickShortcutToLaunch, "skin\\message_exclamation.png", false, false},
};

// One language per test, so the languages' sweeps run side by side. Arabic and Hindi
// too: their pictures show right-to-left and Devanagari texts in the box.
struct TLanguageCase {
    int language;
    const char* tag;  // in the pictures' names
};

class MessageBoxKinds : public MessageBoxWindow, public ::testing::WithParamInterface<TLanguageCase> {};

// The tag names the test in CTest's list.
void PrintTo(const TLanguageCase& c, std::ostream* out) { *out << c.tag; }

INSTANTIATE_TEST_SUITE_P(InEachLanguage, MessageBoxKinds,
                         ::testing::Values(TLanguageCase{kLanguageEnglish, "en"}, TLanguageCase{kLanguageChinese, "zh-cn"},
                                           TLanguageCase{8, "ar"}, TLanguageCase{15, "hi"}));

TEST_P(MessageBoxKinds, EveryKindShowsItsTextsIconAndButtonsAndItsCloseButtonEffect) {
    const auto [language, tag] = GetParam();
    OwnerWnd owner;
    OpenOwner(owner);
    RecordingReporter reporter;
    const char* shotDir = std::getenv("QV_DIALOG_SCREENSHOT_DIR");
    fs::path tmp = fs::temp_directory_path();
    const auto help = PackageImage("skin/message_help.png");
    const auto exclamation = PackageImage("skin/message_exclamation.png");
    ASSERT_TRUE(help && exclamation);

    for (const TKindCase& c : kKindCases) {
        SCOPED_TRACE(std::string(to_string(c.kind)) + " in language " + std::to_string(language));
        owner.messages.clear();
        BoxRun run(c.kind, language, &owner, reporter);
        WaitShown(run);
        MessageBoxWnd* box = run.box();
        int x, y, w, h;
        box->Bounds(x, y, w, h);
        EXPECT_EQ(w, c.kind == MessageKind::AlternativeLayout ? 452 : 500);
        EXPECT_EQ(h, 190);

        // Texts: the kind's labels of "message_page"; kind 5 keeps its layout's.
        auto text = [&](const char* key) -> std::string {
            return key && *key ? GetLanguageText(language, "message_page", key) : std::string();
        };
        const MessageBoxWnd::TKindTexts* keys = MessageBoxWnd::TextsOf(c.kind);
        if (c.kind == MessageKind::AlternativeLayout) {
            EXPECT_EQ(box->FindControl("btn_yes")->GetText(), "OK");
            EXPECT_NE(box->FindControl("msg_describe")->GetText(), "");
        } else {
            EXPECT_EQ(box->FindControl("msg_describe")->GetText(), text(keys ? keys->describeKey : nullptr));
            EXPECT_EQ(box->FindControl("msg_question")->GetText(), text(keys ? keys->questionKey : nullptr));
            EXPECT_EQ(box->FindControl("btn_yes")->GetText(), text(keys ? keys->yesKey : nullptr));
            EXPECT_EQ(box->FindControl("btn_no")->GetText(), text(keys ? keys->noKey : nullptr));
            if (keys) {
                EXPECT_NE(box->FindControl("msg_describe")->GetText(), "");
            }
        }
        EXPECT_EQ(box->FindControl("btn_no")->IsVisible(), c.noShown);
        EXPECT_TRUE(box->FindControl("btn_yes")->IsVisible());
        if (*c.icon) {
            EXPECT_EQ(box->FindControl("iconimage")->GetBkImage(), c.icon);
        }

        // On screen: the icon that was chosen, not the other one.
        std::string name = std::string("dialog_") + tag + "_" + to_string(c.kind) + ".png";
        auto shot = Screenshot(box, shotDir ? (fs::path(shotDir) / name).string() : (tmp / name).string());
        ASSERT_NE(shot, nullptr);
        TRect iconPos = box->FindControl("iconimage")->GetPos();
        double toHelp = MeanDifference(*shot, iconPos, *help);
        double toExclamation = MeanDifference(*shot, iconPos, *exclamation);
        std::string shownIcon = box->FindControl("iconimage")->GetBkImage();
        if (shownIcon.find("help") != std::string::npos) {
            EXPECT_LT(toHelp, 8.0);
            EXPECT_GT(toExclamation, toHelp + 8.0);
        } else {
            EXPECT_LT(toExclamation, 8.0);
            EXPECT_GT(toHelp, toExclamation + 8.0);
        }

        Click(box, "closebtn");
        Pump(5000, [&] { return run.Done(); });
        EXPECT_EQ(run.Result(), MessageBoxResult::NoOrClose);
        Pump(100);
        bool cleared = std::count(owner.messages.begin(), owner.messages.end(), MessageBoxWnd::UM_CLEAR_DOWNLOAD) == 1;
        EXPECT_EQ(cleared, c.clearsDownload);
    }
    EXPECT_TRUE(reporter.events.empty());
}

TEST_F(MessageBoxWindow, ChineseTextsComeFromTheChineseFile) {
    // A spot check against the shipped files themselves, so a mix-up of files shows.
    EXPECT_EQ(GetLanguageText(kLanguageEnglish, "message_page", "OkButtonText"), "OK");
    EXPECT_NE(GetLanguageText(kLanguageChinese, "message_page", "CancelDesText"),
              GetLanguageText(kLanguageEnglish, "message_page", "CancelDesText"));
    EXPECT_NE(GetLanguageText(kLanguageChinese, "message_page", "CancelDesText"), "");
}

TEST_F(MessageBoxWindow, YesAndNoButtonsCloseWithTheirResultsAndOnlyTheFailedInstallerKindsClearTheDownload) {
    OwnerWnd owner;
    OpenOwner(owner);
    RecordingReporter reporter;
    struct TClick {
        MessageKind kind;
        const char* button;
        MessageBoxResult result;
        bool clears;
    };
    const TClick clicks[] = {
        {MessageKind::AppExist, "btn_yes", MessageBoxResult::Yes, false},
        {MessageKind::InstallRunTimeOut, "btn_yes", MessageBoxResult::Yes, true},
        {MessageKind::MD5Fail, "btn_yes", MessageBoxResult::Yes, true},
        {MessageKind::Replace, "btn_no", MessageBoxResult::NoOrClose, false},
        {MessageKind::Cancel, "btn_no", MessageBoxResult::NoOrClose, false},
    };
    for (const TClick& c : clicks) {
        SCOPED_TRACE(std::string(to_string(c.kind)) + " " + c.button);
        owner.messages.clear();
        BoxRun run(c.kind, kLanguageEnglish, &owner, reporter);
        WaitShown(run);
        Click(run.box(), c.button);
        Pump(5000, [&] { return run.Done(); });
        EXPECT_EQ(run.Result(), c.result);
        Pump(100);
        EXPECT_EQ(std::count(owner.messages.begin(), owner.messages.end(), MessageBoxWnd::UM_CLEAR_DOWNLOAD),
                  c.clears ? 1 : 0);
    }
    EXPECT_TRUE(reporter.events.empty()) << "only a confirmed cancel reports";
}

TEST_F(MessageBoxWindow, AHiddenOwnerComesBackEscapeDoesNotCloseAndTheOwnerKeepsPaintingButIgnoresInput) {
    OwnerWnd owner;
    OpenOwner(owner);
    RecordingReporter reporter;
    // Out of sight (as minimised): the box asks its owner to restore itself first.
    owner.ShowWindow(false, false);
    Pump(300, [&] { return !owner.IsShown(); });
    ASSERT_FALSE(owner.IsShown());
    BoxRun run(MessageKind::UrlFail, kLanguageEnglish, &owner, reporter);
    WaitShown(run);
    EXPECT_EQ(owner.syscommands, std::vector<std::uintptr_t>{SC_RESTORE});
    Pump(2000, [&] { return owner.IsShown(); });
    EXPECT_TRUE(owner.IsShown());
    MessageBoxWnd* box = run.box();
    Run("xdotool mousemove " + At(box, "msg_describe") + " click 1 key Escape Escape");
    Pump(500);
    EXPECT_FALSE(run.Done());
    EXPECT_TRUE(box->IsShown());

    // The box runs on its own thread; the owner's thread still paints what changes.
    int before = owner.paints;
    dynamic_cast<CProgress*>(owner.FindControl("progress"))->SetValue(50);
    Pump(500, [&] { return owner.paints > before; });
    EXPECT_GT(owner.paints.load(), before);
    int ox, oy, ow, oh;
    owner.Bounds(ox, oy, ow, oh);
    TRect btn = owner.FindControl("btn")->GetPos();
    Run("xdotool mousemove " + std::to_string(ox + btn.left + 5) + " " + std::to_string(oy + btn.top + 5) + " click 1");
    Pump(300);
    EXPECT_TRUE(owner.clicks.empty()) << "the owner is disabled while the box is up";

    Click(box, "btn_yes");
    Pump(5000, [&] { return run.Done(); });
    EXPECT_EQ(run.Result(), MessageBoxResult::Yes);
}

TEST_F(MessageBoxWindow, ABoxWithoutAWindowSaysSoAndStaysWithItsCaller) {
    OwnerWnd owner;
    OpenOwner(owner);
    RecordingReporter reporter;
    // The box's thread opens its own connection, to a display that is not there.
    const std::string display = std::getenv("DISPLAY");
    setenv("DISPLAY", ":4242", 1);
    BoxRun run(MessageKind::UrlFail, kLanguageEnglish, &owner, reporter);
    Pump(10000, [&] { return run.Done(); });
    setenv("DISPLAY", display.c_str(), 1);
    ASSERT_TRUE(run.Done());
    EXPECT_EQ(run.Result(), MessageBoxResult::NoWindow);
    // The object is whole and its caller's to destroy; the owner was never disabled.
    EXPECT_FALSE(run.box()->IsAlive());
    EXPECT_EQ(run.box()->Kind(), MessageKind::UrlFail);
    EXPECT_TRUE(owner.InputEnabled());
    EXPECT_TRUE(owner.syscommands.empty());
}

// Child process: a cancel question over an owner; the parent clicks "yes".
TEST_F(MessageBoxWindow, ChildShowsTheCancelQuestion) {
    if (!std::getenv("QV_DIALOG_CANCEL_CHILD")) GTEST_SKIP() << "run by CancelConfirmed...";
    OwnerWnd owner;
    OpenOwner(owner);
    // The process-wide reporter as the wizard sets it up; this binary carries no version.
    UserLogReporterOptions options;
    options.version = "1.0.0.1";
    options.startSender = false;
    auto* reporter = new UserLogReporter(options);  // lives until the process ends
    reporter->SetChannelInfo(118, "Morvik Backup", "http://127.0.0.1/setup.exe");
    MessageBoxResult result = MessageBoxWnd::RunModal(MessageKind::Cancel, kLanguageEnglish, &owner, *reporter);
    std::printf("the box returned %s instead of ending the process\n", to_string(result));
    std::_Exit(3);
}

TEST_F(MessageBoxWindow, CancelConfirmedReportsCloseAtOnceAndEndsTheProcessWithZero) {
    FakeMakerService service;
    service.ExportEnvironment();
    setenv("QV_DIALOG_CANCEL_CHILD", "1", 1);
    platform::SpawnError error;
    auto child = platform::ChildProcess::Start(
        {fs::read_symlink("/proc/self/exe").string(), "--gtest_filter=MessageBoxWindow.ChildShowsTheCancelQuestion"}, {},
        error);
    unsetenv("QV_DIALOG_CANCEL_CHILD");
    ASSERT_TRUE(child.has_value()) << error.message;

    // The child's box, found on the display by its class.
    Run("xdotool search --sync --class MESSAGEBOX_UI_Frame > /dev/null");
    Pump(800);
    // Yes sits 220 pixels from the left, in the row of buttons near the bottom.
    Run("xdotool search --class MESSAGEBOX_UI_Frame | head -1 | xargs -I{} xdotool mousemove --window {} 275 157 click 1");
    ASSERT_EQ(child->Wait(20000), platform::ChildProcess::WaitResult::WAIT_EXITED);
    EXPECT_EQ(child->ExitCode(), 0);
    // Sent before the exit, on the clicking thread: it is there without waiting.
    auto hits = service.Requests(FakeMakerService::Endpoint::Collect);
    ASSERT_FALSE(hits.empty());
    bool close = false;
    for (const auto& hit : hits) {
        if (hit.Field("ec") == "CrashRate" && hit.Field("ea") == "Close") close = true;
    }
    EXPECT_TRUE(close);
}

}  // namespace
