#pragma once
// One X server connection. Each UI thread opens its own and never shares it: Xlib calls
// on a connection happen only on the thread that opened it.
//
// The header keeps X11's own headers out, so it can sit beside anything (X11 defines
// macros such as None and Status that break other libraries' headers).

#include <memory>
#include <string>
#include <unordered_map>

struct _XDisplay;

namespace SkinUI::x11 {

using XId = unsigned long;  // Window, Atom, Colormap, ...

class X11Connection {
public:
    // Opens $DISPLAY (or `displayName`). Returns null and fills `error` on failure.
    static std::unique_ptr<X11Connection> Open(std::string* error, const char* displayName = nullptr);
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    _XDisplay* display() const { return display_; }
    int screen() const { return screen_; }
    XId root() const { return root_; }
    int fd() const;
    XId InternAtom(const char* name);

    // A 32-bit visual with alpha for per-pixel transparent windows; false when the server
    // has none (then windows fall back to the default 24-bit visual).
    bool HasArgbVisual() const { return argbVisual_ != nullptr; }
    void* ArgbVisual() const { return argbVisual_; }  // Visual*
    XId ArgbColormap() const { return argbColormap_; }

    // The usable desktop (_NET_WORKAREA when a window manager publishes it, else the screen).
    void WorkArea(int& x, int& y, int& width, int& height);
    // The whole screen in pixels (the root window), panels and docks included.
    void ScreenSize(int& width, int& height);

    void Flush();

    // The connection's input method for composed and non-Latin text, opened on first use;
    // null when none can be opened (then keys are decoded without one). XIM handle.
    void* InputMethod();

private:
    explicit X11Connection(_XDisplay* display);

    _XDisplay* display_ = nullptr;
    int screen_ = 0;
    XId root_ = 0;
    void* argbVisual_ = nullptr;
    XId argbColormap_ = 0;
    std::unordered_map<std::string, XId> atoms_;
    void* inputMethod_ = nullptr;
    bool inputMethodTried_ = false;
};

}  // namespace SkinUI::x11
