#pragma once
// The message loop of one UI thread: X events of the thread's connection, messages
// posted from any thread, window timers and deferred painting.
//
// Thread ownership: a loop belongs to the thread that created it (ForCurrentThread).
// Run, RunUntil, SetTimer, KillTimer and everything about windows happen on that thread.
// PostToWindow, PostTaskToWindow, PostQuit and Wake may be called from any thread; they
// wake the loop through an eventfd polled together with the X socket.
//
// Messages and tasks for a window share one queue, so a task queued after a message runs
// after it. A task is always answered: it runs, or it is destroyed unrun (which breaks its
// promise) as soon as it is clear that it never will: its window is destroyed, the loop
// ends (the outermost run returns because of a quit) or the loop itself goes away with its
// thread. Until the loop runs again after such an end, new tasks are refused at once.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <variant>
#include <vector>

#include "ui/x11/X11Connection.h"

namespace SkinUI::x11 {

class X11Window;

struct PostedMessage {
    std::uint32_t message = 0;
    std::uintptr_t wparam = 0;
    std::intptr_t lparam = 0;
};

// A closure to run on a window's thread. Destroyed without having run, it breaks the
// promise of whatever it carries, which answers the thread waiting on that promise's
// future. (The standard's move-only callable; what it carries may be move-only too.)
using WindowTask = std::packaged_task<void()>;

class X11EventLoop {
public:
    // The loop of the calling thread, created (with its X connection) on first use.
    // Returns null and fills `error` when the display cannot be opened.
    static X11EventLoop* ForCurrentThread(std::string* error = nullptr);
    ~X11EventLoop();

    X11Connection& connection() { return *connection_; }

    // Posts to the loop that owns `window`, from any thread. False when no live window has that id.
    static bool PostToWindow(XId window, std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam);
    // Queues `task` to run on the thread of the loop that owns `window`, from any thread.
    // False when no live window has that id or its loop has ended; the task is then
    // destroyed unrun before this returns.
    static bool PostTaskToWindow(XId window, WindowTask task);
    // True while a loop of any thread has a live window of that id. Any thread.
    static bool IsWindowAlive(XId window);
    // Ends Run (and every nested RunUntil) of this loop with `code`. Any thread.
    void PostQuit(int code);
    void Wake();

    // Runs until PostQuit; returns its code.
    int Run();
    // A nested loop (modal windows): runs until done() is true or quit was posted.
    // Returns false when it ended because of quit.
    bool RunUntil(const std::function<bool()>& done);
    bool QuitPosted() const { return quit_; }

    // Native window timers: OnTimer(id) every periodMs on the owning thread; setting an
    // existing id restarts it with the new period.
    void SetTimer(X11Window* window, std::uint32_t id, std::uint32_t periodMs);
    void KillTimer(X11Window* window, std::uint32_t id);

    // Window bookkeeping, called by X11Window.
    void Register(X11Window* window);
    void Unregister(X11Window* window);
    X11Window* Find(XId id) const;
    bool OnOwnerThread() const { return std::this_thread::get_id() == owner_; }

private:
    // One entry of the queue: a message for a window, or a task to run for it.
    struct TQueued {
        XId window = 0;
        std::variant<PostedMessage, WindowTask> item;
    };

    explicit X11EventLoop(std::unique_ptr<X11Connection> connection);
    // False (the entry dropped) for a task while the loop has ended.
    bool Enqueue(TQueued entry);
    // Runs and RunUntils nest; the outermost one ending because of quit ends the loop.
    void EnterRun();
    void LeaveRun(bool endedByQuit);
    // Drops the queued tasks of `window` (of every window when 0) unrun, which answers them.
    void DropTasks(XId window);
    // One pass: X events, posted messages, due timers, paints, then wait up to the next timer.
    void Pump(bool mayBlock);
    // Each returns whether it handled anything.
    bool DispatchPosted();
    bool FireTimers();
    bool PaintDirty();
    int MillisecondsToNextTimer() const;

    struct Timer {
        std::uint32_t period;
        std::uint64_t due;
    };

    std::unique_ptr<X11Connection> connection_;
    std::thread::id owner_;
    int wakeFd_ = -1;
    std::atomic<bool> quit_{false};
    int quitCode_ = 0;

    int runDepth_ = 0;  // owner thread only

    std::mutex queueMutex_;  // guards queue_ and acceptingTasks_
    std::deque<TQueued> queue_;
    // False from the end of the loop until it runs again.
    bool acceptingTasks_ = true;

    std::unordered_map<XId, X11Window*> windows_;            // owner thread only
    std::map<std::pair<XId, std::uint32_t>, Timer> timers_;  // owner thread only
};

}  // namespace SkinUI::x11
