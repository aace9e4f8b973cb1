#pragma once
// A top-level window with the operations the system's windows rely on: create, centre,
// show, minimise, modal runs, close with a code, send and post, timers, icon, size. It
// turns native events into a window-message handler, as the skinned windows expect.
//
// Thread ownership: a window belongs to the thread that creates it and runs its loop.
// From other threads: PostMessage, SendMessage (waits for the owning thread), Close and
// the input switch an owned modal window flips on its owner.
// The header keeps X11's own headers out (it sits beside easylogging++ in the wizard).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ui/x11/WindowMessages.h"
#include "ui/x11/X11Window.h"

namespace SkinUI {

class CNativeWindow : public x11::X11Window {
public:
    CNativeWindow();
    ~CNativeWindow() override;

    // Creates the native window on the calling thread. `style` bits of caption and frame
    // are dropped; WS_VISIBLE is honoured by the first ShowWindow/ShowModal, not at once,
    // so a window is centred before it appears. False when no window could be made.
    bool Create(CNativeWindow* owner, std::string_view title, std::uint32_t style, std::uint32_t exStyle, int x,
                int y, int cx, int cy);
    CNativeWindow* GetOwner() const { return owner_; }

    // Centres on the owner, or on the work area of the screen when there is none.
    void CenterWindow() { Centre(); }
    void ShowWindow(bool visible = true, bool takeFocus = true) { Show(visible, takeFocus); }
    void MinimizeWindow() { Minimise(); }
    // Disables the owner (it ignores input), shows the window and runs a nested loop on
    // this thread until the window is gone; then re-enables and focuses the owner and
    // returns the code given to Close. The window may delete itself meanwhile.
    int ShowModal();
    // Posts the close message with `code`, if the window still exists. Any thread.
    void Close(int code = 0);
    // Same thread: handled at once. Another thread: posted, and the caller waits until the
    // owning thread has handled it (0 when the window is gone first).
    std::intptr_t SendMessage(std::uint32_t message, std::uintptr_t wparam = 0, std::intptr_t lparam = 0);
    // Any thread. False when the window is gone.
    bool PostMessage(std::uint32_t message, std::uintptr_t wparam = 0, std::intptr_t lparam = 0);
    // Resizes, keeping the top-left corner where it is.
    void ResizeClient(int cx, int cy) { SetSize(cx, cy); }

protected:
    // The WM_CLASS class other processes find the window by.
    virtual std::string GetWindowClassName() const = 0;
    // Before the native window exists: may change its parameters. False aborts creation.
    virtual bool OnCreating(x11::X11Window::CreateParams& params) { (void)params; return true; }
    // The native window exists.
    virtual void OnCreated() {}
    // Every posted or sent message, timers (WM_TIMER with the id) and unconsumed keys
    // (WM_KEYDOWN with the key code). Set `handled` to stop the default handling.
    virtual std::intptr_t HandleWindowMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam,
                                              bool& handled);
    // After the native window is gone; the object may delete itself here (and touch nothing after).
    virtual void OnFinalMessage() {}
    // Before OnFinalMessage, while the object is whole: release what hangs on the window.
    virtual void OnWindowGone() {}

    // X11Window hooks.
    void OnMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) override;
    void OnTimer(std::uint32_t id) override;
    void OnCloseRequest() override;
    void OnDestroyed() override;

private:
    struct TModalState;
    struct TSyncCall;
    std::intptr_t Dispatch(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam);

    CNativeWindow* owner_ = nullptr;
    std::shared_ptr<TModalState> modal_;
};

}  // namespace SkinUI
