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
    std::lock_guard<std::mutex> lock(g_registryMutex);
    g_windowOwners.erase(id);
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
    it->second->Enqueue({window, message, wparam, lparam});
    return true;
}

bool X11EventLoop::IsWindowAlive(XId window) {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    return g_windowOwners.count(window) != 0;
}

void X11EventLoop::Enqueue(const PostedMessage& message) {
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        queue_.push_back(message);
    }
    Wake();
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
    while (!quit_) Pump(true);
    // The quit ends this run (and every nested one inside it); a later Run starts afresh.
    quit_ = false;
    return quitCode_;
}

bool X11EventLoop::RunUntil(const std::function<bool()>& done) {
    while (!quit_ && !done()) Pump(true);
    return !quit_;
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
    std::deque<PostedMessage> batch;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        batch.swap(queue_);
    }
    bool any = !batch.empty();
    while (!batch.empty()) {
        if (quit_) {
            // Keep what was not delivered, in order, for an outer loop that may still run.
            std::lock_guard<std::mutex> lock(queueMutex_);
            queue_.insert(queue_.begin(), batch.begin(), batch.end());
            return any;
        }
        PostedMessage message = batch.front();
        batch.pop_front();
        if (X11Window* window = Find(message.window)) window->HandleMessage(message.message, message.wparam, message.lparam);
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
