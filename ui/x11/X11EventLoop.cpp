#include "ui/x11/X11EventLoop.h"

#include <X11/Xlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include "ui/x11/X11Window.h"

namespace SkinUI::x11 {
namespace {

std::uint64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

// Which loop owns which window, for posting across threads. X window ids are unique on
// the server, whichever connection created them.
std::mutex g_registryMutex;
std::unordered_map<XId, X11EventLoop*> g_windowOwners;

thread_local std::unique_ptr<X11EventLoop> t_loop;

}  // namespace

X11EventLoop* X11EventLoop::ForCurrentThread(std::string* error) {
    if (!t_loop) {
        auto connection = X11Connection::Open(error);
        if (!connection) return nullptr;
        t_loop.reset(new X11EventLoop(std::move(connection)));
    }
    return t_loop.get();
}

X11EventLoop::X11EventLoop(std::unique_ptr<X11Connection> connection)
    : connection_(std::move(connection)), owner_(std::this_thread::get_id()) {
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

X11EventLoop::~X11EventLoop() {
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        for (auto it = g_windowOwners.begin(); it != g_windowOwners.end();) {
            it = it->second == this ? g_windowOwners.erase(it) : std::next(it);
        }
    }
    // The thread ends: tasks still queued are answered unrun.
    DropTasks(0);
    if (wakeFd_ >= 0) close(wakeFd_);
}

void X11EventLoop::Register(X11Window* window) {
    windows_[window->id()] = window;
    std::lock_guard<std::mutex> lock(g_registryMutex);
    g_windowOwners[window->id()] = this;
}

void X11EventLoop::Unregister(X11Window* window) {
    XId id = window->id();
    windows_.erase(id);
    for (auto it = timers_.begin(); it != timers_.end();) {
        it = it->first.first == id ? timers_.erase(it) : std::next(it);
    }
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        g_windowOwners.erase(id);
    }
    // Nothing new can be queued for the window now. What waits for it is answered here,
    // not when (or whether) this loop comes round to it again.
    DropTasks(id);
}

X11Window* X11EventLoop::Find(XId id) const {
    auto it = windows_.find(id);
    return it == windows_.end() ? nullptr : it->second;
}

bool X11EventLoop::PostToWindow(XId window, std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
    // Held while enqueueing so the owning loop cannot go away in between.
    std::lock_guard<std::mutex> lock(g_registryMutex);
    auto it = g_windowOwners.find(window);
    if (it == g_windowOwners.end()) return false;
    return it->second->Enqueue({window, PostedMessage{message, wparam, lparam}});
}

bool X11EventLoop::PostTaskToWindow(XId window, WindowTask task) {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    auto it = g_windowOwners.find(window);
    if (it == g_windowOwners.end()) return false;  // `task` dies with this call: answered
    return it->second->Enqueue({window, std::move(task)});
}

bool X11EventLoop::IsWindowAlive(XId window) {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    return g_windowOwners.count(window) != 0;
}

bool X11EventLoop::Enqueue(TQueued entry) {
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        // Messages wait for a later run; a task would leave its caller waiting for it.
        if (std::holds_alternative<WindowTask>(entry.item) && !acceptingTasks_) return false;
        queue_.push_back(std::move(entry));
    }
    Wake();
    return true;
}

void X11EventLoop::DropTasks(XId window) {
    // Destroyed after the lock is released: a broken promise wakes its waiter at once.
    std::deque<TQueued> dropped;
    std::lock_guard<std::mutex> lock(queueMutex_);
    for (auto it = queue_.begin(); it != queue_.end();) {
        if (std::holds_alternative<WindowTask>(it->item) && (window == 0 || it->window == window)) {
            dropped.push_back(std::move(*it));
            it = queue_.erase(it);
        } else {
            ++it;
        }
    }
}

void X11EventLoop::Wake() {
    std::uint64_t one = 1;
    // A full counter already means "wake up"; nothing else can fail here.
    [[maybe_unused]] auto written = write(wakeFd_, &one, sizeof one);
}

void X11EventLoop::PostQuit(int code) {
    quitCode_ = code;
    quit_ = true;
    Wake();
}

int X11EventLoop::Run() {
    EnterRun();
    while (!quit_) Pump(true);
    // The quit ends this run (and every nested one inside it); a later Run starts afresh.
    quit_ = false;
    LeaveRun(true);
    return quitCode_;
}

bool X11EventLoop::RunUntil(const std::function<bool()>& done) {
    EnterRun();
    while (!quit_ && !done()) Pump(true);
    const bool quit = quit_;
    LeaveRun(quit);
    return !quit;
}

void X11EventLoop::EnterRun() {
    ++runDepth_;
    std::lock_guard<std::mutex> lock(queueMutex_);
    acceptingTasks_ = true;
}

void X11EventLoop::LeaveRun(bool endedByQuit) {
    --runDepth_;
    if (!endedByQuit || runDepth_ > 0) return;
    // Nobody runs this loop any more: whoever waits for one of its tasks would wait for ever.
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        acceptingTasks_ = false;
    }
    DropTasks(0);
}

void X11EventLoop::SetTimer(X11Window* window, std::uint32_t id, std::uint32_t periodMs) {
    if (periodMs == 0) periodMs = 1;
    timers_[{window->id(), id}] = Timer{periodMs, NowMs() + periodMs};
}

void X11EventLoop::KillTimer(X11Window* window, std::uint32_t id) { timers_.erase({window->id(), id}); }

int X11EventLoop::MillisecondsToNextTimer() const {
    if (timers_.empty()) return -1;
    std::uint64_t now = NowMs();
    std::uint64_t next = UINT64_MAX;
    for (const auto& [key, timer] : timers_) next = std::min(next, timer.due);
    return next <= now ? 0 : static_cast<int>(std::min<std::uint64_t>(next - now, 60000));
}

void X11EventLoop::Pump(bool mayBlock) {
    Display* display = connection_->display();
    bool didWork = false;
    while (XPending(display) > 0 && !quit_) {
        XEvent event;
        XNextEvent(display, &event);
        didWork = true;
        if (XFilterEvent(&event, 0)) continue;  // input method traffic
        if (event.type == MappingNotify) {
            // Keyboard tools remap spare keys to type characters the layout lacks.
            XRefreshKeyboardMapping(&event.xmapping);
            continue;
        }
        if (X11Window* window = Find(event.xany.window)) window->HandleEvent(&event);
    }
    didWork |= DispatchPosted();
    didWork |= FireTimers();
    didWork |= PaintDirty();
    XFlush(display);
    // Whatever was handled may have ended a nested loop: let the caller look before waiting.
    if (quit_ || !mayBlock || didWork) return;
    if (XPending(display) > 0) return;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        if (!queue_.empty()) return;
    }
    for (const auto& [id, window] : windows_) {
        if (window->NeedsPaint()) return;
    }
    pollfd fds[2] = {{connection_->fd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (poll(fds, 2, MillisecondsToNextTimer()) > 0 && (fds[1].revents & POLLIN)) {
        std::uint64_t counter;
        [[maybe_unused]] auto got = read(wakeFd_, &counter, sizeof counter);
    }
}

bool X11EventLoop::DispatchPosted() {
    std::deque<TQueued> batch;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        batch.swap(queue_);
    }
    bool any = !batch.empty();
    while (!batch.empty()) {
        if (quit_) {
            // Keep what was not delivered, in order, for an outer loop that may still run.
            // Tasks of windows gone meanwhile stay in the batch and are answered with it.
            std::lock_guard<std::mutex> lock(queueMutex_);
            auto keep = queue_.begin();
            for (TQueued& entry : batch) {
                if (std::holds_alternative<WindowTask>(entry.item) && Find(entry.window) == nullptr) continue;
                keep = std::next(queue_.insert(keep, std::move(entry)));
            }
            return any;
        }
        TQueued entry = std::move(batch.front());
        batch.pop_front();
        X11Window* window = Find(entry.window);
        if (window == nullptr) continue;  // a task dies here unrun: answered
        if (auto* message = std::get_if<PostedMessage>(&entry.item)) {
            window->HandleMessage(message->message, message->wparam, message->lparam);
        } else {
            std::get<WindowTask>(entry.item)();
        }
    }
    return any;
}

bool X11EventLoop::FireTimers() {
    std::uint64_t now = NowMs();
    std::vector<std::pair<XId, std::uint32_t>> due;
    for (auto& [key, timer] : timers_) {
        if (timer.due <= now) {
            due.push_back(key);
            // Late timers do not fire in bursts to catch up.
            timer.due = std::max(timer.due + timer.period, now + 1);
        }
    }
    for (const auto& [windowId, timerId] : due) {
        if (timers_.count({windowId, timerId}) == 0) continue;  // killed by an earlier handler
        if (X11Window* window = Find(windowId)) window->HandleTimer(timerId);
    }
    return !due.empty();
}

bool X11EventLoop::PaintDirty() {
    std::vector<X11Window*> dirty;
    for (const auto& [id, window] : windows_) {
        if (window->NeedsPaint()) dirty.push_back(window);
    }
    for (X11Window* window : dirty) {
        if (Find(window->id()) == window) window->PaintNow();
    }
    return !dirty.empty();
}

}  // namespace SkinUI::x11
