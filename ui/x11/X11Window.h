#pragma once
// A borderless top-level X11 window that presents pixels painted elsewhere and turns X
// events into plain calls. Skinned windows build on it; it knows nothing of controls.
//
// Thread ownership: created, used and destroyed on the thread of its X11EventLoop.
// Exceptions, callable from any thread: Invalidate(), Post() and PostTask().

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/x11/WindowMessages.h"
#include "ui/x11/X11Connection.h"
#include "ui/x11/X11EventLoop.h"

union _XEvent;
struct _XIC;

namespace SkinUI::x11 {


enum Modifier : unsigned { MOD_SHIFT = 1, MOD_CONTROL = 4, MOD_ALT = 8 };

struct MouseEvent {
    int x = 0, y = 0;          // window coordinates
    int rootX = 0, rootY = 0;  // screen coordinates
    int button = 0;            // 1 left, 2 middle, 3 right, 4/5 wheel
    unsigned modifiers = 0;
    bool doubleClick = false;
};

struct KeyEvent {
    unsigned long keysym = 0;  // X keysym (XK_Escape, XK_Return, ...)
    std::string text;          // UTF-8 text the key produced, if any
    unsigned modifiers = 0;
};

class X11Window {
public:
    struct CreateParams {
        std::string className;  // WM_CLASS class, used to find the window from other processes
        std::string title;
        X11Window* owner = nullptr;
        int x = 0, y = 0, width = 100, height = 100;
        bool perPixelAlpha = false;  // 32-bit ARGB visual when the server has one
    };

    X11Window() = default;
    virtual ~X11Window();
    X11Window(const X11Window&) = delete;
    X11Window& operator=(const X11Window&) = delete;

    // Creates the native window on the calling thread's loop. False with `error` set on failure.
    bool Create(const CreateParams& params, std::string* error = nullptr);
    // Destroys the native window (OnDestroyed runs). Safe to call twice.
    void DestroyWindow();

    XId id() const { return window_; }
    bool IsAlive() const { return window_ != 0; }
    X11EventLoop* loop() const { return loop_; }
    bool HasPerPixelAlpha() const { return argb_; }

    void Show(bool visible, bool takeFocus);
    bool IsShown() const { return mapped_; }
    void Minimise();
    void SetBounds(int x, int y, int width, int height);
    void SetSize(int width, int height);  // keeps the top-left corner
    void Bounds(int& x, int& y, int& width, int& height) const;
    // Centres on the owner, or on the work area when there is none.
    void Centre();
    void SetTitle(const std::string& title);
    // ARGB pixels, not premultiplied, row by row (the _NET_WM_ICON layout).
    void SetIcon(int width, int height, const std::vector<std::uint32_t>& argb);
    void Focus();
    // While disabled the window ignores pointer and keyboard input (owner of a modal window).
    // Any thread (a modal window on another thread disables its owner).
    void SetInputEnabled(bool enabled) { inputEnabled_ = enabled; }
    bool InputEnabled() const { return inputEnabled_; }
    // Moves the window with the pointer until the button is released (caption dragging).
    void BeginMoveDrag(const MouseEvent& press);
    // Resizes the window with the pointer until the button is released, moving the
    // given edges (EDGE_ bits).
    enum Edge : unsigned { EDGE_LEFT = 1, EDGE_TOP = 2, EDGE_RIGHT = 4, EDGE_BOTTOM = 8 };
    void BeginResizeDrag(const MouseEvent& press, unsigned edges);

    // Marks the window for painting on its own thread soon. Any thread.
    void Invalidate();
    // Posts to this window's loop. Any thread. False when the window is gone.
    bool Post(std::uint32_t message, std::uintptr_t wparam = 0, std::intptr_t lparam = 0);
    // Queues `task` to run on this window's thread while the window lives. Any thread.
    // False when the window or its loop is gone; a task that never runs is destroyed unrun.
    bool PostTask(WindowTask task);
    // Copies premultiplied ARGB32 pixels (cairo's image format) onto the window.
    void Present(const std::uint8_t* pixels, int width, int height, int stride);
    // Copies only the part x, y, w, h of such a buffer to the same place on the window.
    void PresentArea(const std::uint8_t* pixels, int width, int height, int stride, int x, int y, int w, int h);
    // Pointing hand (over a link) or the ordinary arrow.
    void SetHandCursor(bool hand);
    // Cuts the window's corners with elliptic arcs (windows without per-pixel alpha);
    // 0 gives the plain rectangle back.
    void SetRoundShape(int radiusX, int radiusY);

    // What the server shows at a window pixel, as 0xRRGGBB (pixel probes and diagnostics).
    bool ReadBackPixel(int x, int y, std::uint32_t& rgb) const;

    void SetTimer(std::uint32_t id, std::uint32_t periodMs);
    void KillTimer(std::uint32_t id);

    // Finds a top-level window whose WM_CLASS class is `className` (any process), 0 if none.
    static XId FindTopLevelByClass(X11Connection& connection, const std::string& className);
    // Raises, restores and focuses a window of any process.
    static void Activate(X11Connection& connection, XId window);

    // Called by the loop.
    void HandleEvent(_XEvent* event);
    void HandleMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam);
    void HandleTimer(std::uint32_t id) { OnTimer(id); }
    bool NeedsPaint() const { return dirty_.load(std::memory_order_relaxed) && mapped_; }
    void PaintNow();

protected:
    virtual void OnPaint() {}
    virtual void OnResized(int /*width*/, int /*height*/) {}
    virtual void OnMouseDown(const MouseEvent&) {}
    virtual void OnMouseUp(const MouseEvent&) {}
    virtual void OnMouseMove(const MouseEvent&) {}
    virtual void OnMouseLeave() {}
    virtual void OnKeyDown(const KeyEvent&) {}
    virtual void OnFocusChanged(bool /*focused*/) {}
    // Posted messages (and Close's WM_CLOSE, whose default destroys the window).
    virtual void OnMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam);
    virtual void OnTimer(std::uint32_t /*id*/) {}
    // The window manager's close button or Alt+F4 through the window manager.
    virtual void OnCloseRequest() { DestroyWindow(); }
    // After the native window is gone; the object stays whole (its owner destroys it).
    virtual void OnDestroyed() {}

private:
    void SetProperties(const CreateParams& params);
    MouseEvent MakeMouseEvent(const void* xbutton) const;

    X11EventLoop* loop_ = nullptr;
    X11Connection* connection_ = nullptr;
    XId window_ = 0;
    XId owner_ = 0;
    void* gc_ = nullptr;  // GC
    _XIC* inputContext_ = nullptr;
    bool argb_ = false;
    int depth_ = 24;
    bool mapped_ = false;
    std::atomic<bool> inputEnabled_{true};
    bool handCursor_ = false;
    std::atomic<bool> dirty_{true};
    int x_ = 0, y_ = 0, width_ = 0, height_ = 0;
    // Caption drag without a window manager's help.
    bool dragging_ = false;
    int dragStartRootX_ = 0, dragStartRootY_ = 0, dragStartX_ = 0, dragStartY_ = 0;
    unsigned resizeEdges_ = 0;  // while dragging: 0 moves, else the edges that follow
    int dragStartWidth_ = 0, dragStartHeight_ = 0;
    // Double-click detection.
    unsigned long lastPressTime_ = 0;
    int lastPressX_ = -100, lastPressY_ = -100, lastPressButton_ = 0;
};

}  // namespace SkinUI::x11
