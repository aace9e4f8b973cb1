// The slide show's transition and the start-up overlay on a real X server.
//
// Slides: a window with the running page's picture area and dots, driven with the main
// window's rules (the slide timer selects the next dot, a dot's "selectchanged" scrolls
// to its picture), with a shortened interval. What is on screen is read back from the X
// server and matched against the pictures. Overlay: in a child process, because it ends
// its process; the parent watches its frames change and times its end.
// Set QV_DIALOG_SCREENSHOT_DIR to keep a mid-transition frame and the overlay.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "src/language/CLanguageTexts.h"
#include "src/dialogs/CAlientWnd.h"
#include "src/dialogs/SlideTransition.h"
#include "platform/Process.h"
#include "tests/support/FakeMakerService.h"
#include "src/telemetry/UserLogReporter.h"
#include "ui/CControl.h"
#include "ui/CControlHost.h"
#include "ui/CImage.h"
#include "ui/COption.h"
#include "ui/CSkinPackage.h"
#include "ui/x11/CSkinWindow.h"
#include "ui/x11/X11EventLoop.h"

using namespace SkinUI;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using qvtest::FakeMakerService;

namespace {

constexpr int W = SlideTransition::kWidth;
constexpr int H = SlideTransition::kHeight;

// The running page's picture area with its dots, and caption labels as the language
// files fill them.
const char* const kSlidesLayout = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="650,340">
  <Font name="Tahoma" size="13" />
  <VerticalLayout bkcolor="#FFFFFFFF">
    <Label name="anima_text_1" visible="false" text="Thank you for choosing Morvik Backup{n}Your download is on its way" />
    <Label name="anima_text_2" visible="false" text="Automatic backup of your important files" />
    <Label name="anima_text_3" visible="false" text="" />
    <VerticalLayout name="image_play" width="648" height="300" padding="1,0,1,0" bkimage="skin\anima\1.png">
        <VerticalLayout />
        <HorizontalLayout height="6" padding="0,0,0,16" childpadding="10">
            <HorizontalLayout />
            <Option name="image_play_option1" group="image_play_option" width="6" height="6" normalimage="skin\OptionNormal.png" selectedimage="skin\OptionSelected.png" />
            <Option name="image_play_option2" group="image_play_option" width="6" height="6" normalimage="skin\OptionNormal.png" selectedimage="skin\OptionSelected.png" />
            <Option name="image_play_option3" group="image_play_option" width="6" height="6" normalimage="skin\OptionNormal.png" selectedimage="skin\OptionSelected.png" />
            <HorizontalLayout />
        </HorizontalLayout>
    </VerticalLayout>
    <HorizontalLayout />
  </VerticalLayout>
</Window>
)";

std::string SlidesSkinCopy() {
    static const std::string folder = [] {
        fs::path dir = fs::temp_directory_path() /
                       ("qv_anim_skin_" + std::to_string(Clock::now().time_since_epoch().count()));
        fs::copy(fs::path(QV_SOURCE_DIR) / "skin", dir, fs::copy_options::recursive);
        std::ofstream(dir / "SlidesWnd.xml") << kSlidesLayout;
        return dir.string();
    }();
    return folder;
}

// The main window's slide rules around a SlideTransition.
class SlidesWnd : public CSkinWindow {
public:
    static constexpr std::uint32_t kSlideTimer = 2000;
    int interval = 1500;
    int softwareId = 118;
    int nextSlide = 1;
    std::vector<COption*> dots;
    std::unique_ptr<SlideTransition> transition;
    std::atomic<int> paints{0};
    // After each scroll: the target and the picture the screen then shows.
    std::vector<int> targets;
    std::vector<Clock::time_point> times;
    std::vector<Clock::time_point> starts;  // when each selection began (its scroll runs until `times`)
    std::function<void()> afterScroll;

    SlidesWnd() {
        AddMessageHandler("selectchanged", "", [this](TNotify& msg) { OnSlideSelected(msg); });
    }

    TRect Area() const { return FindControl("image_play")->GetPos(); }

    void Start() {
        std::vector<CControl*> controls(dots.begin(), dots.end());
        transition = std::make_unique<SlideTransition>(*this, Area(), true, 3, TSlideCaptionStyle{0, softwareId}, controls);
        transition->BuildSlides();
        nextSlide = 1;
        dots.front()->Selected(true);
        FindControl("image_play")->SetBkImage("FirstFrame");
        SetTimer(kSlideTimer, interval);
    }

protected:
    std::string GetWindowClassName() const override { return "QV_TEST_SLIDES"; }
    std::string GetSkinFile() const override { return "SlidesWnd.xml"; }
    void InitWindow() override {
        for (int i = 1; i <= 3; ++i) dots.push_back(dynamic_cast<COption*>(FindControl("image_play_option" + std::to_string(i))));
    }
    void OnSlideSelected(TNotify& msg) {
        int target = -1;
        for (int i = 0; i < 3; ++i) {
            if (msg.sender == dots[i]) target = i == 2 ? 0 : i + 1;
        }
        if (target < 0) return;
        SetTimer(kSlideTimer, interval);
        starts.push_back(Clock::now());
        transition->Transition(nextSlide, target, 50);
        nextSlide = target;
        targets.push_back(target);
        times.push_back(Clock::now());
        if (afterScroll) afterScroll();
    }
    std::intptr_t HandleWindowMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam,
                                      bool& handled) override {
        if (message == WM_TIMER && wparam == kSlideTimer) {
            std::size_t next = nextSlide == 1 ? 1 : nextSlide == 2 ? 2 : 0;
            dots[next]->Selected(true);
            handled = true;
            return 0;
        }
        return CSkinWindow::HandleWindowMessage(message, wparam, lparam, handled);
    }
    void OnPaint() override {
        CSkinWindow::OnPaint();
        ++paints;
    }
};

class SlideAnimation : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!std::getenv("DISPLAY")) return;
        setenv("SETUP_SKIN_DIR", SlidesSkinCopy().c_str(), 1);
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

    void Open(SlidesWnd& window) {
        ASSERT_TRUE(window.Create(nullptr, "slides", UI_WNDSTYLE_FRAME, 0, 30, 30, 100, 100));
        window.ShowWindow(true, true);
        Pump(2000, [&] { return window.paints > 0; });
        ASSERT_GT(window.paints.load(), 0);
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

    class Ticker : public x11::X11Window {
    public:
        Ticker() {
            CreateParams params;
            params.className = "QV_TEST_TICK";
            if (Create(params)) SetTimer(1, 5);
        }
    };
};

std::shared_ptr<CImage> PackageImage(const std::string& entry) {
    std::vector<std::byte> bytes;
    EXPECT_EQ(CSkinPackage::Current()->ReadBinary(entry, 1 << 24, bytes), PackageResult::PACKAGE_OK);
    return CImage::Decode(bytes);
}

std::shared_ptr<CImage> Cut(const CImage& strip, int offset) {
    auto cell = std::make_shared<CImage>(W, H);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) cell->Data()[y * W + x] = strip.Pixel(offset + x, y);
    }
    return cell;
}

int Channel(std::uint32_t p, int shift) { return static_cast<int>((p >> shift) & 0xFF); }

int Difference(std::uint32_t a, std::uint32_t b) {
    int sum = 0;
    for (int shift = 0; shift < 24; shift += 8) sum += std::abs(Channel(a, shift) - Channel(b, shift));
    return sum;
}

// Mean difference between what the X server shows in the picture area and a 650 x 300
// frame, sampled on a grid (the area is 648 wide: the frame is scaled into it). The dots'
// row is left out.
double ScreenDifference(const SlidesWnd& window, const CImage& frame) {
    TRect area = window.Area();
    double sum = 0;
    int n = 0;
    for (int y = 4; y < H - 40; y += 9) {
        for (int x = 4; x < area.Width() - 4; x += 9) {
            std::uint32_t rgb = 0;
            if (!window.ReadBackPixel(area.left + x, area.top + y, rgb)) return 1e9;
            int fx = std::min(W - 1, static_cast<int>(std::lround(x * double(W) / area.Width())));
            sum += Difference(rgb, frame.Pixel(fx, y));
            ++n;
        }
    }
    return sum / n;
}

// Which of the pictures the screen shows: 1-based index of the closest frame.
int ShownPicture(const SlidesWnd& window, const std::vector<std::shared_ptr<CImage>>& cells) {
    int best = 0;
    double bestDiff = 1e9;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        double d = ScreenDifference(window, *cells[i]);
        if (d < bestDiff) {
            bestDiff = d;
            best = static_cast<int>(i) + 1;
        }
    }
    return bestDiff < 12 ? best : -1;
}

TEST_F(SlideAnimation, TheStripHoldsEveryPictureWithItsCaptionsAndACopyOfTheFirst) {
    SlidesWnd window;
    Open(window);
    window.Start();
    CImageCache& images = window.GetHost()->Images();
    auto strip = images.Get("Merge");
    auto first = images.Get("FirstFrame");
    ASSERT_TRUE(strip && first);
    EXPECT_EQ(strip->Width(), 4 * W);
    EXPECT_EQ(strip->Height(), H);
    EXPECT_EQ(window.transition->Captions().size(), 3u);
    EXPECT_TRUE(window.transition->ExtraCaptions().empty());

    // Below the caption box each cell is its package picture untouched.
    for (int i = 1; i <= 3; ++i) {
        auto picture = PackageImage("skin/anima/" + std::to_string(i) + ".png");
        ASSERT_NE(picture, nullptr);
        for (int y = 150; y < H; y += 7) {
            for (int x = 0; x < W; x += 7) {
                ASSERT_EQ(strip->Pixel((i - 1) * W + x, y), picture->Pixel(x, y)) << i << ": " << x << "," << y;
            }
        }
    }
    // Cell 4 is the captioned picture 1, as is "FirstFrame".
    for (int y = 0; y < H; y += 3) {
        for (int x = 0; x < W; x += 3) {
            ASSERT_EQ(strip->Pixel(3 * W + x, y), first->Pixel(x, y));
            ASSERT_EQ(strip->Pixel(x, y), first->Pixel(x, y));
        }
    }

    // Captions: rows the caption changed, grouped into runs. "{n}" gives two lines; a
    // caption without it one; an empty caption none.
    auto textRuns = [&](int cell) {
        auto picture = PackageImage("skin/anima/" + std::to_string(cell + 1) + ".png");
        int runs = 0;
        bool inRun = false;
        for (int y = 40; y < 140; ++y) {
            bool changed = false;
            for (int x = 30; x < 620 && !changed; ++x) changed = strip->Pixel(cell * W + x, y) != picture->Pixel(x, y);
            if (changed && !inRun) ++runs;
            inRun = changed;
        }
        return runs;
    };
    EXPECT_EQ(textRuns(0), 2);
    EXPECT_EQ(textRuns(1), 1);
    EXPECT_EQ(textRuns(2), 0);
    EXPECT_EQ(SlideTransition::CaptionLines("one{n}two{n}three"), "one\ntwo{n}three");
}

TEST_F(SlideAnimation, CaptionColourFollowsTheProduct) {
    struct TCase {
        int softwareId;
        bool light;
    };
    for (TCase c : {TCase{10, true}, TCase{118, false}}) {
        SCOPED_TRACE(c.softwareId);
        SlidesWnd window;
        window.softwareId = c.softwareId;
        Open(window);
        window.Start();
        auto first = window.GetHost()->Images().Get("FirstFrame");
        auto picture = PackageImage("skin/anima/1.png");
        int lighter = 0, darker = 0;
        for (int y = 40; y < 140; ++y) {
            for (int x = 30; x < 620; ++x) {
                std::uint32_t a = first->Pixel(x, y), b = picture->Pixel(x, y);
                int la = Channel(a, 0) + Channel(a, 8) + Channel(a, 16), lb = Channel(b, 0) + Channel(b, 8) + Channel(b, 16);
                if (la > lb) ++lighter;
                if (la < lb) ++darker;
            }
        }
        if (c.light) {
            EXPECT_GT(lighter, 200);
            EXPECT_EQ(darker, 0);
        } else {
            EXPECT_GT(darker, 500);
            EXPECT_EQ(lighter, 0);
        }
    }
}

TEST_F(SlideAnimation, TheTimerShowsPicturesOneTwoThreeOneAndEachScrollTakesTwentyFiveSteps) {
    SlidesWnd window;
    window.interval = 1600;
    Open(window);
    window.Start();
    auto strip = window.GetHost()->Images().Get("Merge");
    std::vector<std::shared_ptr<CImage>> cells = {Cut(*strip, 0), Cut(*strip, W), Cut(*strip, 2 * W)};
    std::vector<int> shown;
    window.afterScroll = [&] { shown.push_back(ShownPicture(window, cells)); };
    Clock::time_point started = Clock::now();
    Pump(9000, [&] { return window.targets.size() >= 4; });
    // The first entry is Start's own selection of the first dot: nothing to scroll.
    ASSERT_EQ(window.targets, (std::vector<int>{1, 2, 0, 1}));
    EXPECT_EQ(shown, (std::vector<int>{2, 3, 1}));
    // Each later selection comes one interval after the previous one began; the scroll of
    // 25 steps of 50 ms lies inside that interval. A timer that waited for the scroll to end
    // would begin every next selection at least a whole interval after that end. The right
    // one begins it sooner; a busy machine can delay a single timer by more than a scroll,
    // so one selection of the run that does is enough.
    long soonest = std::numeric_limits<long>::max();
    for (std::size_t i = 2; i < window.times.size(); ++i) {
        auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(window.starts[i] - window.starts[i - 1]).count();
        EXPECT_GE(gap, window.interval - 50) << i;
        soonest = std::min<long>(
            soonest, std::chrono::duration_cast<std::chrono::milliseconds>(window.starts[i] - window.times[i - 1]).count());
    }
    EXPECT_LT(soonest, window.interval);
    auto firstScroll = std::chrono::duration_cast<std::chrono::milliseconds>(window.times[1] - started).count();
    EXPECT_GE(firstScroll, 1600 + 24 * 50 - 60);
    // Every step of the three moves is cached under its name.
    for (int code : {12, 20, 1}) {
        for (int step = 1; step <= 25; ++step) EXPECT_TRUE(window.GetHost()->Images().IsRegistered(SlideTransition::FrameName(code, step)));
    }
    EXPECT_EQ(SlideTransition::FrameName(1, 25), "0125");
}

TEST_F(SlideAnimation, AClickOnADotScrollsToItsPicture) {
    SlidesWnd window;
    window.interval = 60000;  // only clicks move the pictures here
    Open(window);
    window.Start();
    auto strip = window.GetHost()->Images().Get("Merge");
    std::vector<std::shared_ptr<CImage>> cells = {Cut(*strip, 0), Cut(*strip, W), Cut(*strip, 2 * W)};
    Pump(300);
    int wx, wy, ww, wh;
    window.Bounds(wx, wy, ww, wh);
    struct TClick {
        int dot;     // 0-based
        int target;  // slide numbering
        int picture;
    };
    for (TClick c : {TClick{2, 0, 3}, TClick{1, 2, 2}, TClick{0, 1, 1}}) {
        SCOPED_TRACE(c.dot);
        std::size_t before = window.targets.size();
        TRect pos = window.dots[c.dot]->GetPos();
        Run("xdotool mousemove " + std::to_string(wx + (pos.left + pos.right) / 2) + " " +
            std::to_string(wy + (pos.top + pos.bottom) / 2) + " click 1");
        Pump(5000, [&] { return window.targets.size() > before; });
        ASSERT_GT(window.targets.size(), before);
        EXPECT_EQ(window.targets.back(), c.target);
        EXPECT_EQ(ShownPicture(window, cells), c.picture);
        EXPECT_TRUE(window.dots[c.dot]->IsSelected());
    }
    // The last click went from picture 2 back to picture 1: backwards, from W to 0.
    auto frame = window.GetHost()->Images().Get(SlideTransition::FrameName(21, 13));
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->Pixel(0, 200), strip->Pixel(W - 13 * 26, 200));
}

TEST_F(SlideAnimation, TheMiddleFrameOfAScrollShowsTwoPicturesSideBySide) {
    SlidesWnd window;
    window.interval = 60000;
    Open(window);
    window.Start();
    Pump(200);
    auto strip = window.GetHost()->Images().Get("Merge");

    // A slow scroll from picture 1 to 2 (200 ms a step); the screen is photographed from
    // another thread while the window thread is busy in the middle of it.
    fs::path shot = fs::temp_directory_path() / ("qv_mid_" + std::to_string(Clock::now().time_since_epoch().count()) + ".png");
    std::string id = std::to_string(window.id());
    std::thread photographer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(12 * 200 + 100));
        std::system(("import -window " + id + " '" + shot.string() + "'").c_str());
    });
    window.transition->Transition(1, 2, 200);
    photographer.join();
    std::ifstream in(shot, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto picture = CImage::Decode(std::as_bytes(std::span(bytes.data(), bytes.size())));
    ASSERT_NE(picture, nullptr);
    if (const char* dir = std::getenv("QV_DIALOG_SCREENSHOT_DIR")) {
        fs::copy_file(shot, fs::path(dir) / "dialog_slide_mid_transition.png", fs::copy_options::overwrite_existing);
    }
    fs::remove(shot);

    // The photograph matches a frame near the middle (step 12 to 14), where the left part
    // is the right of picture 1 and the right part the left of picture 2, and neither
    // picture whole.
    TRect area = window.Area();
    auto difference = [&](const CImage& frame) {
        double sum = 0;
        int n = 0;
        for (int y = 4; y < H - 40; y += 7) {
            for (int x = 4; x < area.Width() - 4; x += 7) {
                int fx = std::min(W - 1, static_cast<int>(std::lround(x * double(W) / area.Width())));
                sum += Difference(picture->Pixel(area.left + x, area.top + y), frame.Pixel(fx, y));
                ++n;
            }
        }
        return sum / n;
    };
    double best = 1e9;
    for (int step = 12; step <= 14; ++step) {
        auto frame = window.GetHost()->Images().Get(SlideTransition::FrameName(12, step));
        ASSERT_NE(frame, nullptr);
        // Each cached frame is its cut of the strip.
        auto expected = Cut(*strip, SlideTransition::StepOffset(0, W, step));
        for (int y = 0; y < H; y += 5) {
            for (int x = 0; x < W; x += 5) ASSERT_EQ(frame->Pixel(x, y), expected->Pixel(x, y));
        }
        best = std::min(best, difference(*frame));
    }
    EXPECT_LT(best, 6.0);
    EXPECT_GT(difference(*Cut(*strip, 0)), best + 6.0);
    EXPECT_GT(difference(*Cut(*strip, W)), best + 6.0);
    EXPECT_EQ(SlideTransition::StepOffset(0, W, 13), 13 * 26);
}

TEST_F(SlideAnimation, OffsetsOfEveryMove) {
    struct TMove {
        int from, to, count, start, end;
    };
    const TMove moves[] = {
        {0, 1, 3, 2 * W, 3 * W}, {0, 2, 3, 2 * W, W}, {1, 0, 3, 0, 2 * W}, {1, 2, 3, 0, W},
        {2, 0, 3, W, 2 * W},     {2, 1, 3, W, 0},     {2, 1, 2, W, 2 * W},
    };
    for (const TMove& m : moves) {
        int start = -1, end = -1;
        ASSERT_TRUE(SlideTransition::Offsets(m.from, m.to, m.count, start, end)) << m.from << m.to;
        EXPECT_EQ(start, m.start) << m.from << m.to;
        EXPECT_EQ(end, m.end) << m.from << m.to;
    }
    int start, end;
    EXPECT_FALSE(SlideTransition::Offsets(1, 1, 3, start, end));
    EXPECT_FALSE(SlideTransition::Offsets(3, 1, 3, start, end));
    EXPECT_EQ(SlideTransition::StepOffset(2 * W, W, 25), W);
    EXPECT_EQ(SlideTransition::StepOffset(0, 2 * W, 1), 52);
}

TEST_F(SlideAnimation, TwoPicturesScrollBackOntoTheCopyAndNeverPastTheStrip) {
    SlidesWnd window;
    window.interval = 60000;
    Open(window);
    std::vector<CControl*> dots(window.dots.begin(), window.dots.end());
    SlideTransition two(window, window.Area(), true, 2, {}, dots);
    two.BuildSlides();
    auto strip = window.GetHost()->Images().Get("Merge");
    ASSERT_EQ(strip->Width(), 3 * W);
    two.Transition(2, 1, 1);  // onto the copy of picture 1 at 2W
    auto last = window.GetHost()->Images().Get(SlideTransition::FrameName(21, 25));
    auto first = window.GetHost()->Images().Get("FirstFrame");
    for (int x = 0; x < W; x += 13) EXPECT_EQ(last->Pixel(x, 200), first->Pixel(x, 200));
    // From the copy onwards there is no cell; the frames stop at the strip's end.
    two.Transition(0, 1, 1);
    EXPECT_TRUE(window.GetHost()->Images().IsRegistered(SlideTransition::FrameName(1, 25)));

    SlideTransition one(window, window.Area(), true, 1, {}, dots);
    one.BuildSlides();
    EXPECT_EQ(window.GetHost()->Images().Get("Merge")->Width(), 2 * W);
}

// --- overlay -----------------------------------------------------------------------------

// Child process: the overlay for the product in QV_OVERLAY_CHILD_PATH.
TEST_F(SlideAnimation, ChildRunsTheOverlay) {
    const char* path = std::getenv("QV_OVERLAY_CHILD_PATH");
    if (!path) GTEST_SKIP() << "run by the overlay tests";
    UserLogReporterOptions options;
    options.version = "1.0.0.1";
    options.startSender = false;
    auto* reporter = new UserLogReporter(options);  // lives until the process ends
    reporter->SetChannelInfo(118, "Morvik Backup", "http://127.0.0.1/setup.exe");
    auto overlay = std::make_unique<CAlientWnd>(std::string("\"") + path + "\"", "Morvik Backup",
                                                std::atoi(std::getenv("QV_OVERLAY_CHILD_SECONDS")), kLanguageEnglish,
                                                *reporter);
    if (std::getenv("QV_OVERLAY_CHILD_CLOSE")) {
        // The window manager's close request, as Alt+F4 sends it, once the window is up.
        std::thread([overlay = overlay.get()] {
            while (!overlay->IsShown()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            x11::X11EventLoop::PostToWindow(overlay->id(), WM_SYSCOMMAND, SC_CLOSE, 0);
        }).detach();
    }
    overlay->Run();
    std::_Exit(3);
}

class OverlayWindow : public SlideAnimation {
protected:
    std::optional<platform::ChildProcess> StartChild(const std::string& product, int seconds, const std::string& errFile,
                                                     bool closeEarly = false) {
        if (closeEarly) setenv("QV_OVERLAY_CHILD_CLOSE", "1", 1);
        setenv("QV_OVERLAY_CHILD_PATH", product.c_str(), 1);
        setenv("QV_OVERLAY_CHILD_SECONDS", std::to_string(seconds).c_str(), 1);
        platform::SpawnError error;
        std::string self = fs::read_symlink("/proc/self/exe").string();
        auto child = platform::ChildProcess::Start(
            {"/bin/sh", "-c", "exec '" + self + "' --gtest_filter=SlideAnimation.ChildRunsTheOverlay 2>'" + errFile + "'"}, {},
            error);
        unsetenv("QV_OVERLAY_CHILD_PATH");
        unsetenv("QV_OVERLAY_CHILD_SECONDS");
        unsetenv("QV_OVERLAY_CHILD_CLOSE");
        EXPECT_TRUE(child.has_value()) << error.message;
        return child;
    }

    static bool HasCloseHit(const FakeMakerService& service) {
        for (const auto& hit : service.Requests(FakeMakerService::Endpoint::Collect)) {
            if (hit.Field("ec") == "CrashRate" && hit.Field("ea") == "Close") return true;
        }
        return false;
    }
};

TEST_F(OverlayWindow, SpinsWhileTheProductStartsAndEndsTheProcessAfterItsSeconds) {
    EXPECT_EQ(CAlientWnd::FrameImage(0), "skin/gif/bg00.png");
    EXPECT_EQ(CAlientWnd::FrameImage(20), "skin/gif/bg20.png");
    EXPECT_EQ(CAlientWnd::FrameImage(21), "skin/gif/bg00.png");

    FakeMakerService service;
    service.ExportEnvironment();
    fs::path shots = fs::temp_directory_path() / ("qv_overlay_" + std::to_string(Clock::now().time_since_epoch().count()));
    fs::create_directories(shots);
    // The product: a program that starts and ends at once.
    Clock::time_point started = Clock::now();
    auto child = StartChild("/bin/true", 3, (shots / "stderr.txt").string());
    ASSERT_TRUE(child.has_value());
    Run("xdotool search --sync --class CALIENTWND_UI_Frame > '" + (shots / "id").string() + "'");
    Clock::time_point shown = Clock::now();
    std::string id;
    std::ifstream(shots / "id") >> id;
    ASSERT_FALSE(id.empty());
    Pump(300);
    // Frames every 50 ms: pictures taken apart differ in the turning ring.
    std::vector<std::string> pictures;
    for (int i = 0; i < 3; ++i) {
        std::string file = (shots / ("frame" + std::to_string(i) + ".png")).string();
        Run("import -window " + id + " '" + file + "'");
        std::ifstream in(file, std::ios::binary);
        pictures.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Pump(130);
    }
    if (const char* dir = std::getenv("QV_DIALOG_SCREENSHOT_DIR")) {
        fs::copy_file(shots / "frame1.png", fs::path(dir) / "dialog_overlay.png", fs::copy_options::overwrite_existing);
    }
    auto decode = [](const std::string& bytes) { return CImage::Decode(std::as_bytes(std::span(bytes.data(), bytes.size()))); };
    auto a = decode(pictures[0]), b = decode(pictures[1]), c = decode(pictures[2]);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->Width(), 320);
    EXPECT_EQ(a->Height(), 320);
    auto differing = [](const CImage& p, const CImage& q) {
        int n = 0;
        for (int y = 0; y < p.Height(); ++y) {
            for (int x = 0; x < p.Width(); ++x) n += p.Pixel(x, y) != q.Pixel(x, y);
        }
        return n;
    };
    EXPECT_GT(differing(*a, *b) + differing(*b, *c), 100) << "the ring turns";

    ASSERT_EQ(child->Wait(20000), platform::ChildProcess::WaitResult::WAIT_EXITED);
    auto now = Clock::now();
    auto sinceStart = std::chrono::duration_cast<std::chrono::milliseconds>(now - started).count();
    auto sinceShown = std::chrono::duration_cast<std::chrono::milliseconds>(now - shown).count();
    EXPECT_EQ(child->ExitCode(), 0);
    EXPECT_GE(sinceStart, 3000);
    EXPECT_GE(sinceShown, 1500) << "the overlay stays up for its seconds";
    EXPECT_LT(sinceShown, 3000 + 4000);
    EXPECT_TRUE(HasCloseHit(service));
    fs::remove_all(shots);
}

TEST_F(OverlayWindow, ACloseRequestIsRefusedAndTheProductStartsOnce) {
    FakeMakerService service;
    service.ExportEnvironment();
    fs::path dir = fs::temp_directory_path() / ("qv_overlay_" + std::to_string(Clock::now().time_since_epoch().count()));
    fs::create_directories(dir);
    // The product notes every start in a file beside itself.
    fs::path product = dir / "product";
    std::ofstream(product) << "#!/bin/sh\necho started >> started.txt\n";
    fs::permissions(product, fs::perms::owner_all);
    Clock::time_point started = Clock::now();
    auto child = StartChild(product.string(), 2, (dir / "stderr.txt").string(), true);
    ASSERT_TRUE(child.has_value());
    Run("xdotool search --sync --class CALIENTWND_UI_Frame > /dev/null");
    ASSERT_EQ(child->Wait(20000), platform::ChildProcess::WaitResult::WAIT_EXITED);
    EXPECT_EQ(child->ExitCode(), 0);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count(), 2000)
        << "the overlay stayed for its seconds";
    EXPECT_TRUE(HasCloseHit(service));
    std::ifstream in(dir / "started.txt");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(all, "started\n");
    fs::remove_all(dir);
}

TEST_F(OverlayWindow, AProductThatDoesNotStartGetsThePlainBoxThenTheSameEnd) {
    FakeMakerService service;
    service.ExportEnvironment();
    fs::path dir = fs::temp_directory_path() / ("qv_overlay_" + std::to_string(Clock::now().time_since_epoch().count()));
    fs::create_directories(dir);
    auto child = StartChild((dir / "no such product").string(), 600, (dir / "stderr.txt").string());
    ASSERT_TRUE(child.has_value());
    Run("xdotool search --sync --class QV_SYSTEM_MESSAGE_BOX > '" + (dir / "id").string() + "'");
    Pump(500);
    EXPECT_EQ(child->Wait(0), platform::ChildProcess::WaitResult::WAIT_TIMED_OUT) << "the box waits for the user";
    std::string id;
    std::ifstream(dir / "id") >> id;
    ASSERT_FALSE(id.empty());
    Run("xdotool windowfocus --sync " + id + " key Return");
    ASSERT_EQ(child->Wait(20000), platform::ChildProcess::WaitResult::WAIT_EXITED);
    EXPECT_EQ(child->ExitCode(), 0);
    EXPECT_TRUE(HasCloseHit(service));
    std::ifstream in(dir / "stderr.txt");
    std::string err((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(err.find(GetLanguageText(kLanguageEnglish, "message_page", "ClickShortcutToLaunchText")), std::string::npos)
        << err;
    fs::remove_all(dir);
}

}  // namespace
