#include "ui/x11/CNativeWindow.h"

#include "ui/x11/X11EventLoop.h"

namespace SkinUI {
namespace {

// Private traffic between windows of different threads; above every number the system uses.
constexpr std::uint32_t kActivateMessage = 0x7FFF0002;

}  // namespace

CNativeWindow::CNativeWindow() = default;

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
    modalDone_ = false;
    modalCode_ = 0;
    if (!OnCreating(params)) return false;
    if (!X11Window::Create(params)) return false;
    OnCreated();
    return IsAlive();
}

int CNativeWindow::ShowModal() {
    if (!IsAlive()) return modalCode_;
    if (owner_ != nullptr) owner_->SetInputEnabled(false);
    Show(true, true);
    loop()->RunUntil([this] { return modalDone_; });
    if (!modalDone_ && IsAlive()) DestroyWindow();  // a quit ended the loop
    if (owner_ != nullptr) {
        owner_->SetInputEnabled(true);
        // Focus is the owner thread's business; it may be another thread.
        owner_->PostMessage(kActivateMessage);
    }
    return modalCode_;
}

void CNativeWindow::Close(int code) {
    Post(WM_CLOSE, static_cast<std::uintptr_t>(code), 0);
}

bool CNativeWindow::PostMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
    return Post(message, wparam, lparam);
}

std::intptr_t CNativeWindow::SendMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
    if (!IsAlive()) return 0;
    try {
        return CallOnWindowThread([this, message, wparam, lparam] { return Dispatch(message, wparam, lparam); });
    } catch (const std::future_error&) {
        return 0;  // the window closed or its loop ended before it got to the message
    }
}

std::intptr_t CNativeWindow::Dispatch(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
    bool handled = false;
    std::intptr_t result = HandleWindowMessage(message, wparam, lparam, handled);
    if (handled || !IsAlive()) return result;
    // Defaults, as a plain top-level window behaves.
    if (message == WM_CLOSE) {
        modalCode_ = static_cast<int>(wparam);
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
    if (message == kActivateMessage) {
        Focus();
        return;
    }
    Dispatch(message, wparam, lparam);
}

void CNativeWindow::OnTimer(std::uint32_t id) { Dispatch(WM_TIMER, id, 0); }

void CNativeWindow::OnCloseRequest() { Dispatch(WM_SYSCOMMAND, SC_CLOSE, 0); }

void CNativeWindow::OnDestroyed() {
    OnWindowGone();
    modalDone_ = true;
    OnFinalMessage();
}

}  // namespace SkinUI
