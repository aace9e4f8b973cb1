// Calls on a window from other threads against a real X server: they run on the window's
// thread in order with what was posted before them and bring back the value (or the
// exception); a call whose window closes or whose loop ends first is answered instead of
// leaving its caller waiting; many threads calling at once all get their own answers.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ui/x11/CNativeWindow.h"
#include "ui/x11/X11EventLoop.h"

using namespace SkinUI;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint32_t kDouble = WM_USER + 5;  // answers twice its wparam
constexpr std::uint32_t kMark = WM_USER + 6;    // posted: noted in the order of arrival
constexpr std::uint32_t kTickTimer = 1;
// Far above anything here takes; only a call that never ends reaches it.
constexpr auto kBound = std::chrono::seconds(30);

class CallsWnd : public CNativeWindow {
public:
    std::atomic<int> doubled{0};
    // Window thread only; read by the test after the callers ended.
    std::vector<std::uint32_t> arrivals;
    std::set<std::thread::id> handlerThreads;

    bool Open() { return Create(nullptr, "calls", UI_WNDSTYLE_DIALOG, 0, 10, 10, 60, 40); }

protected:
    std::string GetWindowClassName() const override { return "QV_TEST_CALLS"; }
    std::intptr_t HandleWindowMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam,
                                      bool& handled) override {
        if (message == kDouble || message == kMark) {
            arrivals.push_back(message);
            handlerThreads.insert(std::this_thread::get_id());
            handled = true;
        }
        if (message == kDouble) {
            ++doubled;
            return static_cast<std::intptr_t>(wparam) * 2;
        }
        return CNativeWindow::HandleWindowMessage(message, wparam, lparam, handled);
    }
};

// Runs `call` on a thread of its own; true when it ended within kBound. A call that
// never ends is left behind with what it shares (only a failing test gets there).
bool EndsInTime(std::function<void()> call) {
    auto task = std::make_shared<std::packaged_task<void()>>(std::move(call));
    std::future<void> ended = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    if (ended.wait_for(kBound) != std::future_status::ready) return false;
    ended.get();
    return true;
}

class WindowCalls : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (the test command runs one)";
        std::string error;
        ASSERT_NE(x11::X11EventLoop::ForCurrentThread(&error), nullptr) << error;
    }

    // Runs this thread's loop until `done`, for at most kBound.
    static void Pump(const std::function<bool()>& done) {
        const auto until = Clock::now() + kBound;
        Ticker ticker;
        x11::X11EventLoop::ForCurrentThread()->RunUntil([&] { return done() || Clock::now() >= until; });
    }

    // Keeps a pumping loop looking at its condition while nothing else wakes it (the
    // window under test may be gone).
    class Ticker : public x11::X11Window {
    public:
        Ticker() {
            CreateParams params;
            params.className = "QV_TEST_TICK";
            if (Create(params)) SetTimer(kTickTimer, 5);
        }
    };
};

TEST_F(WindowCalls, ACallFromAnotherThreadRunsOnTheWindowsThreadAfterWhatWasPostedAndBringsBackItsAnswer) {
    CallsWnd window;
    ASSERT_TRUE(window.Open());
    // On its own thread a send is handled at once, without the loop.
    EXPECT_EQ(window.SendMessage(kDouble, 4), 8);

    std::atomic<bool> finished{false};
    std::intptr_t doubled = 0;
    std::string text;
    std::unique_ptr<int> moved;
    std::string thrown;
    bool brokenAfterClose = false;
    std::thread caller([&] {
        window.PostMessage(kMark);
        doubled = window.SendMessage(kDouble, 21);
        // Any result type, move-only ones too.
        text = window.CallOnWindowThread([&] { return "doubled " + std::to_string(window.doubled.load()); });
        moved = window.CallOnWindowThread([] { return std::make_unique<int>(7); });
        try {
            window.CallOnWindowThread([]() -> int { throw std::runtime_error("refused on the window thread"); });
        } catch (const std::runtime_error& error) {
            thrown = error.what();
        }
        finished = true;
    });
    Pump([&] { return finished.load(); });
    caller.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(doubled, 42);
    EXPECT_EQ(text, "doubled 2");
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(*moved, 7);
    EXPECT_EQ(thrown, "refused on the window thread");
    EXPECT_EQ(window.arrivals, (std::vector<std::uint32_t>{kDouble, kMark, kDouble}));
    EXPECT_EQ(window.handlerThreads, std::set<std::thread::id>{std::this_thread::get_id()});

    // Gone: a send answers 0 and a call throws, at once.
    window.DestroyWindow();
    EXPECT_TRUE(EndsInTime([&] {
        EXPECT_EQ(window.SendMessage(kDouble, 21), 0);
        try {
            window.CallOnWindowThread([] { return 1; });
        } catch (const std::future_error& error) {
            brokenAfterClose = error.code() == std::future_errc::broken_promise;
        }
    }));
    EXPECT_TRUE(brokenAfterClose);
    EXPECT_EQ(window.doubled, 2);
}

TEST_F(WindowCalls, ACallQueuedBehindTheWindowsCloseIsAnsweredWhenTheWindowGoes) {
    CallsWnd window;
    ASSERT_TRUE(window.Open());
    auto answer = std::make_shared<std::atomic<std::intptr_t>>(-1);
    std::thread caller([&window, answer] {
        window.Close(3);
        *answer = window.SendMessage(kDouble, 21);
    });
    Pump([&] { return *answer != -1; });
    caller.join();
    EXPECT_FALSE(window.IsAlive());
    EXPECT_EQ(answer->load(), 0);
    EXPECT_EQ(window.doubled, 0) << "nothing runs for a window that is gone";
}

TEST_F(WindowCalls, ACallWaitingForAWindowItsThreadDestroysIsAnsweredThoughThatThreadPumpsNoMore) {
    // As a message box's thread does: the window goes, and the thread moves on without
    // running its loop again.
    class ClosingOnMarkWnd : public CallsWnd {
    protected:
        std::intptr_t HandleWindowMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam,
                                          bool& handled) override {
            if (message != kMark) return CallsWnd::HandleWindowMessage(message, wparam, lparam, handled);
            // Time for the caller's call to reach the queue behind this message (the
            // answer must be the same if it comes later).
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            DestroyWindow();
            handled = true;
            return 0;
        }
    };
    std::promise<ClosingOnMarkWnd*> made;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::thread owner([&made, released] {
        ClosingOnMarkWnd window;
        if (!window.Open()) {
            made.set_value(nullptr);
            return;
        }
        made.set_value(&window);
        const auto until = Clock::now() + kBound;
        window.loop()->RunUntil([&] { return !window.IsAlive() || Clock::now() >= until; });
        released.wait_for(kBound);
    });
    ClosingOnMarkWnd* window = made.get_future().get();
    ASSERT_NE(window, nullptr);

    auto answer = std::make_shared<std::atomic<std::intptr_t>>(-1);
    EXPECT_TRUE(EndsInTime([window, answer] {
        window->PostMessage(kMark);
        *answer = window->SendMessage(kDouble, 21);
    }));
    EXPECT_EQ(answer->load(), 0);
    EXPECT_EQ(window->doubled, 0);
    release.set_value();
    owner.join();
}

TEST_F(WindowCalls, ACallToAWindowWhoseLoopEndedIsAnsweredAndLaterOnesAtOnce) {
    // The window lives on a thread whose loop runs until a quit and then stops running,
    // while the window itself stays (as the wizard's window does once its loop has ended).
    std::promise<CallsWnd*> made;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::thread owner([&made, released] {
        CallsWnd window;
        if (!window.Open()) {
            made.set_value(nullptr);
            return;
        }
        made.set_value(&window);
        window.loop()->Run();
        released.wait_for(kBound);
    });
    CallsWnd* window = made.get_future().get();
    ASSERT_NE(window, nullptr);

    // The quit goes first; the call may arrive before or after the loop has seen it.
    auto first = std::make_shared<std::atomic<std::intptr_t>>(-1);
    EXPECT_TRUE(EndsInTime([window, first] {
        window->loop()->PostQuit(0);
        *first = window->SendMessage(kDouble, 21);
    }));
    EXPECT_EQ(first->load(), 0);
    auto later = std::make_shared<std::atomic<std::intptr_t>>(-1);
    EXPECT_TRUE(EndsInTime([window, later] { *later = window->SendMessage(kDouble, 21); }));
    EXPECT_EQ(later->load(), 0);
    EXPECT_TRUE(window->IsAlive());
    EXPECT_EQ(window->doubled, 0);
    release.set_value();
    owner.join();
}

TEST_F(WindowCalls, ManyThreadsCallingAtOnceAllGetTheirOwnAnswers) {
    CallsWnd window;
    ASSERT_TRUE(window.Open());
    constexpr int kThreads = 8;
    constexpr int kCalls = 40;
    std::atomic<int> finished{0};
    std::mutex wrongMutex;
    std::vector<std::string> wrong;
    std::vector<std::thread> callers;
    for (int t = 0; t < kThreads; ++t) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < kCalls; ++i) {
                const int value = t * 1000 + i;
                const std::intptr_t answer = window.SendMessage(kDouble, static_cast<std::uintptr_t>(value));
                if (answer != 2 * value) {
                    std::lock_guard<std::mutex> lock(wrongMutex);
                    wrong.push_back(std::to_string(value) + " -> " + std::to_string(answer));
                }
            }
            ++finished;
        });
    }
    Pump([&] { return finished == kThreads; });
    for (std::thread& caller : callers) caller.join();
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " wrong answers, the first " << wrong.front();
    EXPECT_EQ(window.doubled, kThreads * kCalls);
    EXPECT_EQ(window.handlerThreads, std::set<std::thread::id>{std::this_thread::get_id()});
}

}  // namespace
