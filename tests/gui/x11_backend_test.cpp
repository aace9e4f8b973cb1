// The X11 backend against a real X server (Xvfb in CI): message loop wake-ups, timers,
// finding a window from another connection, presenting pixels, the plain message box.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "platform/Process.h"
#include "ui/x11/X11EventLoop.h"
#include "ui/x11/X11SystemMessageBox.h"
#include "ui/x11/X11Window.h"

using namespace SkinUI::x11;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint32_t kPing = SkinUI::WM_USER + 7;
constexpr std::uint32_t kStopTimer = 1;

class RecordingWindow : public X11Window {
public:
    std::atomic<int> pings{0};
    Clock::time_point lastPing;
    int timerFirings = 0;
    std::uint32_t fillArgb = 0xFFFF0000;
    int paints = 0;

protected:
    void OnMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) override {
        if (message == kPing) {
            lastPing = Clock::now();
            ++pings;
            loop()->PostQuit(0);
        }
        X11Window::OnMessage(message, wparam, lparam);
    }
    void OnTimer(std::uint32_t id) override {
        if (id == 2000) ++timerFirings;
        if (id == kStopTimer) {
            KillTimer(kStopTimer);
            loop()->PostQuit(0);
        }
    }
    void OnPaint() override {
        int x, y, w, h;
        Bounds(x, y, w, h);
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(w) * h, fillArgb);
        Present(reinterpret_cast<const std::uint8_t*>(pixels.data()), w, h, w * 4);
        ++paints;
    }
};

class X11Backend : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (the test command runs one)";
        std::string error;
        ASSERT_NE(X11EventLoop::ForCurrentThread(&error), nullptr) << error;
    }
    X11EventLoop& loop() { return *X11EventLoop::ForCurrentThread(); }

    static X11Window::CreateParams Params(const std::string& cls) {
        X11Window::CreateParams params;
        params.className = cls;
        params.title = "test window";
        params.x = 10;
        params.y = 10;
        params.width = 120;
        params.height = 80;
        return params;
    }
};

TEST_F(X11Backend, PostFromAnotherThreadWakesTheLoopPromptly) {
    RecordingWindow window;
    ASSERT_TRUE(window.Create(Params("QV_TEST_POST")));
    window.Show(true, false);
    Clock::time_point posted;
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        posted = Clock::now();
        EXPECT_TRUE(window.Post(kPing));
    });
    // Nothing else would wake the loop but the stop timer far off: a post that did not wake
    // it would wait for that timer.
    window.SetTimer(kStopTimer, 20000);
    loop().Run();
    poster.join();
    ASSERT_EQ(window.pings, 1);
    auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(window.lastPing - posted);
    EXPECT_LT(latency.count(), 10000);
}

TEST_F(X11Backend, PostToADestroyedWindowFails) {
    RecordingWindow window;
    ASSERT_TRUE(window.Create(Params("QV_TEST_GONE")));
    XId id = window.id();
    window.DestroyWindow();
    EXPECT_FALSE(X11EventLoop::PostToWindow(id, kPing, 0, 0));
}

TEST_F(X11Backend, TimerFiresAtItsPeriodUntilKilled) {
    RecordingWindow window;
    ASSERT_TRUE(window.Create(Params("QV_TEST_TIMER")));
    window.SetTimer(2000, 100);
    window.SetTimer(kStopTimer, 1050);
    const Clock::time_point started = Clock::now();
    loop().Run();
    // Never more often than its period; a busy machine may make it fire less often.
    const auto ran = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    EXPECT_GE(window.timerFirings, 3);
    EXPECT_LE(window.timerFirings, ran / 100 + 1);
    window.KillTimer(2000);
    int before = window.timerFirings;
    window.SetTimer(kStopTimer, 300);
    loop().Run();
    EXPECT_EQ(window.timerFirings, before);
}

TEST_F(X11Backend, AnotherConnectionFindsTheWindowByClassUntilItIsDestroyed) {
    const std::string cls = "QV_TEST_FIND_" + std::to_string(platform::CurrentProcessId());
    RecordingWindow window;
    ASSERT_TRUE(window.Create(Params(cls)));
    window.Show(true, false);
    // A flush only sends the requests; a round trip waits until the server has made the
    // window, before another connection asks for it.
    XSync(loop().connection().display(), False);
    std::string error;
    auto other = X11Connection::Open(&error);
    ASSERT_NE(other, nullptr) << error;
    EXPECT_EQ(X11Window::FindTopLevelByClass(*other, cls), window.id());
    EXPECT_EQ(X11Window::FindTopLevelByClass(*other, cls + "_other"), 0u);
    window.DestroyWindow();
    // A round trip on the window's own connection: only then has the server destroyed it.
    XSync(loop().connection().display(), False);
    EXPECT_EQ(X11Window::FindTopLevelByClass(*other, cls), 0u);
}

// A window can vanish between being listed and being read (another program closes it while
// Setup looks for its own): the failed request must fail alone, not end the process.
TEST_F(X11Backend, ARequestOnAVanishedWindowFailsWithoutEndingTheProcess) {
    std::string error;
    auto connection = X11Connection::Open(&error);
    ASSERT_NE(connection, nullptr) << error;
    RecordingWindow window;
    ASSERT_TRUE(window.Create(Params("QV_TEST_VANISHED")));
    const XId gone = window.id();
    window.DestroyWindow();
    // A round trip on the window's own connection: only then has the server destroyed it.
    // (Flushed alone, the request may still wait in the server while the other connection asks.)
    XSync(loop().connection().display(), False);
    XClassHint hint{};
    EXPECT_EQ(XGetClassHint(connection->display(), gone, &hint), 0);
    XSync(connection->display(), False);
    EXPECT_EQ(X11Window::FindTopLevelByClass(*connection, "QV_TEST_VANISHED"), 0u);
}

TEST_F(X11Backend, PresentedPixelsReachTheScreen) {
    RecordingWindow window;
    window.fillArgb = 0xFF20A040;
    ASSERT_TRUE(window.Create(Params("QV_TEST_PIXELS")));
    window.Show(true, false);
    window.SetTimer(kStopTimer, 300);
    loop().Run();
    ASSERT_GT(window.paints, 0);
    std::uint32_t pixel = 0;
    ASSERT_TRUE(window.ReadBackPixel(60, 40, pixel));
    EXPECT_EQ(pixel, 0x20A040u);
}

TEST_F(X11Backend, CentreUsesTheWorkArea) {
    RecordingWindow window;
    ASSERT_TRUE(window.Create(Params("QV_TEST_CENTRE")));
    window.Centre();
    int ax, ay, aw, ah, x, y, w, h;
    loop().connection().WorkArea(ax, ay, aw, ah);
    window.Bounds(x, y, w, h);
    EXPECT_EQ(x, ax + (aw - 120) / 2);
    EXPECT_EQ(y, ay + (ah - 80) / 2);
}

TEST_F(X11Backend, SystemMessageBoxClosesWithReturnAndWritesToStderr) {
    std::atomic<bool> returned{false};
    testing::internal::CaptureStderr();
    std::thread shower([&] {
        X11SystemMessageBox::Show("The skin package could not be read.", "Setup");
        returned = true;
    });
    std::string error;
    auto probe = X11Connection::Open(&error);
    ASSERT_NE(probe, nullptr) << error;
    XId box = 0;
    for (int i = 0; i < 100 && !box; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        box = X11Window::FindTopLevelByClass(*probe, "QV_SYSTEM_MESSAGE_BOX");
    }
    ASSERT_NE(box, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (const char* shot = std::getenv("QV_SCREENSHOT_DIR")) {
        std::string cmd = "import -window root " + std::string(shot) + "/system_message_box.png";
        (void)std::system(cmd.c_str());
    }
    EXPECT_FALSE(returned);
    // A real key press through XTEST, delivered to the focused box.
    std::string key = "xdotool key Return";
    ASSERT_EQ(std::system(key.c_str()), 0);
    for (int i = 0; i < 100 && !returned; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(returned);
    shower.join();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Setup: The skin package could not be read."), std::string::npos);
}

}  // namespace
