#pragma once
// A top-level window with the operations the system's windows rely on: create, centre,
// show, minimise, modal runs, close with a code, send and post, timers, icon, size. It
// turns native events into a window-message handler, as the skinned windows expect.
//
// Thread ownership: a window belongs to the thread that creates it and runs its loop.
// From other threads: PostMessage, SendMessage and CallOnWindowThread (both wait for the
// owning thread), Close and the input switch an owned modal window flips on its owner.
// A thread that waits for another window's thread must not be waited for by that thread
// at the same time (two threads sending to each other's windows would wait for ever).
//
// Lifetime: the object belongs to whoever created it and outlives its native window;
// a window never deletes itself.
// The header keeps X11's own headers out (it sits beside easylogging++ in the wizard).

#include <cstdint>
#include <future>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

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
    // returns the code given to Close (0 when it closed otherwise).
    int ShowModal();
    // Posts the close message with `code`, if the window still exists. Any thread.
    void Close(int code = 0);
    // Same thread: handled at once. Another thread: handled on the owning thread, after
    // what was posted to the window before, while the caller waits; 0 when the window
    // closes or its loop ends before it got there.
    std::intptr_t SendMessage(std::uint32_t message, std::uintptr_t wparam = 0, std::intptr_t lparam = 0);
    // Runs `call` on the window's thread and returns what it returns (or throws what it
    // throws): at once on that thread, else queued behind what was posted before while
    // the caller waits for the answer. Throws std::future_error (broken_promise) when the
    // window closes or its loop ends before the call ran.
    template <class F>
    std::invoke_result_t<F&> CallOnWindowThread(F call);
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
    // After the native window is gone; the object stays whole (its owner destroys it).
    virtual void OnFinalMessage() {}
    // Before OnFinalMessage, while the object is whole: release what hangs on the window.
    virtual void OnWindowGone() {}

    // X11Window hooks.
    void OnMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) override;
    void OnTimer(std::uint32_t id) override;
    void OnCloseRequest() override;
    void OnDestroyed() override;

private:
    std::intptr_t Dispatch(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam);

    CNativeWindow* owner_ = nullptr;
    // The modal run of ShowModal: set when the window is gone, with the close code.
    bool modalDone_ = false;
    int modalCode_ = 0;
};

template <class F>
std::invoke_result_t<F&> CNativeWindow::CallOnWindowThread(F call) {
    using Result = std::invoke_result_t<F&>;
    if (loop() == nullptr || loop()->OnOwnerThread()) return call();
    std::packaged_task<Result()> answering(std::move(call));
    std::future<Result> answer = answering.get_future();
    // Refused or never run, the task is destroyed with `answering` inside, which breaks
    // the promise: get() throws instead of waiting for ever.
    PostTask(x11::WindowTask([answering = std::move(answering)]() mutable { answering(); }));
    return answer.get();
}

}  // namespace SkinUI
