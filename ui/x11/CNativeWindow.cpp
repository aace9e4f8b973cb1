#include "ui/x11/CNativeWindow.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "ui/x11/X11EventLoop.h"

namespace SkinUI {
namespace {

// Private traffic between windows of different threads; above every number the system uses.
constexpr std::uint32_t kSyncCallMessage = 0x7FFF0001;
constexpr std::uint32_t kActivateMessage = 0x7FFF0002;

}  // namespace

struct CNativeWindow::TModalState {
    bool done = false;
    int code = 0;
};

struct CNativeWindow::TSyncCall {
    std::uint32_t message = 0;
    std::uintptr_t wparam = 0;
    std::intptr_t lparam = 0;
    std::intptr_t result = 0;
    bool done = false;
    std::mutex mutex;
    std::condition_variable doneChanged;
};

CNativeWindow::CNativeWindow() : modal_(std::make_shared<TModalState>()) {}

CNativeWindow::~CNativeWindow() = default;

bool CNativeWindow::Create(CNativeWindow* owner, std::string_view title, std::uint32_t style, std::uint32_t exStyle,
                           int x, int y, int cx, int cy) {
    (void)exStyle;
    // The skin draws caption and frame; the native window has none of either.
    style &= ~(WS_CAPTION | WS_THICKFRAME);
    (void)style;
    x11::X11Window::CreateParams params;
    params.className = GetWindowClassName();
    params.title.assign(title);
    params.owner = owner;
    params.x = x < 0 ? 0 : x;
    params.y = y < 0 ? 0 : y;
    params.width = cx > 0 ? cx : 100;
    params.height = cy > 0 ? cy : 100;
    owner_ = owner;
    *modal_ = TModalState{};
    if (!OnCreating(params)) return false;
    if (!X11Window::Create(params)) return false;
    OnCreated();
    return IsAlive();
}

int CNativeWindow::ShowModal() {
    if (!IsAlive()) return modal_->code;
    // The state outlives the object: the window may delete itself in its final message.
    std::shared_ptr<TModalState> state = modal_;
    CNativeWindow* owner = owner_;
    x11::X11EventLoop* loop = this->loop();
    if (owner != nullptr) owner->SetInputEnabled(false);
    Show(true, true);
    loop->RunUntil([&state] { return state->done; });
    if (!state->done && IsAlive()) DestroyWindow();  // a quit ended the loop
    if (owner != nullptr) {
        owner->SetInputEnabled(true);
        // Focus is the owner thread's business; it may be another thread.
        owner->PostMessage(kActivateMessage);
    }
    return state->code;
}

void CNativeWindow::Close(int code) {
    Post(WM_CLOSE, static_cast<std::uintptr_t>(code), 0);
}

bool CNativeWindow::PostMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
    return Post(message, wparam, lparam);
}

std::intptr_t CNativeWindow::SendMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
    if (!IsAlive()) return 0;
    if (loop() == nullptr || loop()->OnOwnerThread()) return Dispatch(message, wparam, lparam);
    auto call = std::make_shared<TSyncCall>();
    call->message = message;
    call->wparam = wparam;
    call->lparam = lparam;
    // The owning thread takes over this reference when it handles the message.
    auto* ticket = new std::shared_ptr<TSyncCall>(call);
    x11::XId id = this->id();
    if (!x11::X11EventLoop::PostToWindow(id, kSyncCallMessage, 0, reinterpret_cast<std::intptr_t>(ticket))) {
        delete ticket;
        return 0;
    }
    std::unique_lock<std::mutex> lock(call->mutex);
    while (!call->done) {
        call->doneChanged.wait_for(lock, std::chrono::milliseconds(50));
        // A window destroyed before it got to the message never answers.
        if (!call->done && !x11::X11EventLoop::IsWindowAlive(id)) break;
    }
    return call->result;
}

std::intptr_t CNativeWindow::Dispatch(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
    bool handled = false;
    std::intptr_t result = HandleWindowMessage(message, wparam, lparam, handled);
    if (handled || !IsAlive()) return result;
    // Defaults, as a plain top-level window behaves.
    if (message == WM_CLOSE) {
        modal_->code = static_cast<int>(wparam);
        DestroyWindow();
    } else if (message == WM_SYSCOMMAND) {
        if (wparam == SC_RESTORE) Show(true, true);
        if (wparam == SC_MINIMIZE) Minimise();
        if (wparam == SC_CLOSE) Dispatch(WM_CLOSE, 0, 0);
    }
    return result;
}

std::intptr_t CNativeWindow::HandleWindowMessage(std::uint32_t, std::uintptr_t, std::intptr_t, bool& handled) {
    handled = false;
    return 0;
}

void CNativeWindow::OnMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
    if (message == kSyncCallMessage) {
        std::unique_ptr<std::shared_ptr<TSyncCall>> ticket(reinterpret_cast<std::shared_ptr<TSyncCall>*>(lparam));
        std::shared_ptr<TSyncCall> call = *ticket;
        std::intptr_t result = Dispatch(call->message, call->wparam, call->lparam);
        std::lock_guard<std::mutex> lock(call->mutex);
        call->result = result;
        call->done = true;
        call->doneChanged.notify_all();
        return;
    }
    if (message == kActivateMessage) {
        Focus();
        return;
    }
    Dispatch(message, wparam, lparam);
}

void CNativeWindow::OnTimer(std::uint32_t id) { Dispatch(WM_TIMER, id, 0); }

void CNativeWindow::OnCloseRequest() { Dispatch(WM_SYSCOMMAND, SC_CLOSE, 0); }

void CNativeWindow::OnDestroyed() {
    std::shared_ptr<TModalState> state = modal_;
    OnWindowGone();
    state->done = true;
    OnFinalMessage();
}

}  // namespace SkinUI
