#include "ui/x11/X11Connection.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <mutex>

namespace SkinUI::x11 {

namespace {

// Xlib's own handler ends the process on any error. Windows of other programs come and go
// while we look at them (a search by class meets a window destroyed between listing and
// reading it), so an error of one request is logged and that request reads as failed.
int LogXError(Display* display, XErrorEvent* event) {
    char text[128] = {};
    XGetErrorText(display, event->error_code, text, sizeof text);
    std::fprintf(stderr, "X error ignored: %s (request %d, resource 0x%lx)\n", text,
                 static_cast<int>(event->request_code), static_cast<unsigned long>(event->resourceid));
    return 0;
}

}  // namespace

std::unique_ptr<X11Connection> X11Connection::Open(std::string* error, const char* displayName) {
    // Several threads each open a connection; Xlib must know before the first one.
    static std::once_flag threadsOnce;
    std::call_once(threadsOnce, [] {
        XInitThreads();
        XSetErrorHandler(&LogXError);
    });
    Display* display = XOpenDisplay(displayName);
    if (!display) {
        if (error) *error = std::string("cannot open X display ") + (displayName ? displayName : XDisplayName(nullptr));
        return nullptr;
    }
    return std::unique_ptr<X11Connection>(new X11Connection(display));
}

X11Connection::X11Connection(Display* display) : display_(display) {
    screen_ = DefaultScreen(display_);
    root_ = RootWindow(display_, screen_);
    XVisualInfo info;
    if (XMatchVisualInfo(display_, screen_, 32, TrueColor, &info)) {
        argbVisual_ = info.visual;
        argbColormap_ = XCreateColormap(display_, root_, info.visual, AllocNone);
    }
}

X11Connection::~X11Connection() {
    if (inputMethod_) XCloseIM(static_cast<XIM>(inputMethod_));
    if (argbColormap_) XFreeColormap(display_, argbColormap_);
    XCloseDisplay(display_);
}

int X11Connection::fd() const { return ConnectionNumber(display_); }

XId X11Connection::InternAtom(const char* name) {
    auto it = atoms_.find(name);
    if (it != atoms_.end()) return it->second;
    XId atom = XInternAtom(display_, name, False);
    atoms_.emplace(name, atom);
    return atom;
}

void X11Connection::WorkArea(int& x, int& y, int& width, int& height) {
    x = 0;
    y = 0;
    width = DisplayWidth(display_, screen_);
    height = DisplayHeight(display_, screen_);
    ::Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display_, root_, InternAtom("_NET_WORKAREA"), 0, 4, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data) == Success &&
        data) {
        if (format == 32 && count >= 4) {
            auto* values = reinterpret_cast<long*>(data);
            if (values[2] > 0 && values[3] > 0) {
                x = static_cast<int>(values[0]);
                y = static_cast<int>(values[1]);
                width = static_cast<int>(values[2]);
                height = static_cast<int>(values[3]);
            }
        }
        XFree(data);
    }
}

void X11Connection::ScreenSize(int& width, int& height) {
    width = DisplayWidth(display_, screen_);
    height = DisplayHeight(display_, screen_);
}

void X11Connection::Flush() { XFlush(display_); }

void* X11Connection::InputMethod() {
    if (!inputMethodTried_) {
        inputMethodTried_ = true;
        // Without a locale modifier Xlib picks the built-in method, which is what
        // synthetic key events from tools and plain keyboards need.
        XSetLocaleModifiers("");
        inputMethod_ = XOpenIM(display_, nullptr, nullptr, nullptr);
    }
    return inputMethod_;
}

}  // namespace SkinUI::x11
