#include "ui/x11/X11Window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <X11/extensions/shape.h>
#include <X11/keysym.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cmath>
#include <cstring>

#include "ui/x11/X11EventLoop.h"

namespace SkinUI::x11 {
namespace {

constexpr unsigned long kEventMask = ExposureMask | StructureNotifyMask | ButtonPressMask | ButtonReleaseMask |
                                     PointerMotionMask | LeaveWindowMask | KeyPressMask | KeyReleaseMask |
                                     FocusChangeMask;
constexpr unsigned long kDoubleClickMs = 500;

unsigned Modifiers(unsigned state) {
    unsigned result = 0;
    if (state & ShiftMask) result |= MOD_SHIFT;
    if (state & ControlMask) result |= MOD_CONTROL;
    if (state & Mod1Mask) result |= MOD_ALT;
    return result;
}

bool HasWindowManager(X11Connection& connection) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool found = false;
    if (XGetWindowProperty(connection.display(), connection.root(), connection.InternAtom("_NET_SUPPORTING_WM_CHECK"), 0,
                           1, False, XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
        data) {
        found = count == 1;
        XFree(data);
    }
    return found;
}

// Tells the window manager that the position and size are the program's own choice.
void SetPlacementHints(Display* display, Window window, int x, int y, int width, int height) {
    XSizeHints sizeHints{};
    sizeHints.flags = USPosition | USSize;
    sizeHints.x = x;
    sizeHints.y = y;
    sizeHints.width = width;
    sizeHints.height = height;
    XSetWMNormalHints(display, window, &sizeHints);
}

}  // namespace

X11Window::~X11Window() { DestroyWindow(); }

bool X11Window::Create(const CreateParams& params, std::string* error) {
    loop_ = X11EventLoop::ForCurrentThread(error);
    if (!loop_) return false;
    connection_ = &loop_->connection();
    Display* display = connection_->display();

    XSetWindowAttributes attributes{};
    unsigned long mask = CWEventMask | CWBackPixel | CWBorderPixel;
    attributes.event_mask = kEventMask;
    attributes.background_pixel = 0;
    attributes.border_pixel = 0;
    Visual* visual = DefaultVisual(display, connection_->screen());
    depth_ = DefaultDepth(display, connection_->screen());
    if (params.perPixelAlpha && connection_->HasArgbVisual()) {
        visual = static_cast<Visual*>(connection_->ArgbVisual());
        depth_ = 32;
        attributes.colormap = connection_->ArgbColormap();
        mask |= CWColormap;
        argb_ = true;
    }
    x_ = params.x;
    y_ = params.y;
    width_ = std::max(1, params.width);
    height_ = std::max(1, params.height);
    window_ = XCreateWindow(display, connection_->root(), x_, y_, width_, height_, 0, depth_, InputOutput, visual,
                            mask, &attributes);
    if (!window_) {
        if (error) *error = "XCreateWindow failed";
        return false;
    }
    owner_ = params.owner ? params.owner->id() : 0;
    gc_ = XCreateGC(display, window_, 0, nullptr);
    SetProperties(params);
    if (void* im = connection_->InputMethod()) {
        inputContext_ = XCreateIC(static_cast<XIM>(im), XNInputStyle, XIMPreeditNothing | XIMStatusNothing,
                                  XNClientWindow, window_, XNFocusWindow, window_, nullptr);
    }
    loop_->Register(this);
    return true;
}

void X11Window::SetProperties(const CreateParams& params) {
    Display* display = connection_->display();
    // WM_CLASS: other processes find a running instance by its class.
    std::string name = params.className;
    std::string cls = params.className;
    XClassHint classHint{name.data(), cls.data()};
    XSetClassHint(display, window_, &classHint);
    SetTitle(params.title);

    // Borderless: the skin draws its own caption.
    struct {
        unsigned long flags, functions, decorations;
        long inputMode;
        unsigned long status;
    } motif{2, 0, 0, 0, 0};
    Atom motifAtom = connection_->InternAtom("_MOTIF_WM_HINTS");
    XChangeProperty(display, window_, motifAtom, motifAtom, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&motif), 5);

    // Keep the position we choose even when a window manager runs.
    SetPlacementHints(display, window_, x_, y_, width_, height_);

    XWMHints wmHints{};
    wmHints.flags = InputHint | StateHint;
    wmHints.input = True;
    wmHints.initial_state = NormalState;
    XSetWMHints(display, window_, &wmHints);

    Atom deleteAtom = connection_->InternAtom("WM_DELETE_WINDOW");
    XSetWMProtocols(display, window_, &deleteAtom, 1);
    if (owner_) XSetTransientForHint(display, window_, owner_);

    long pid = static_cast<long>(getpid());
    XChangeProperty(display, window_, connection_->InternAtom("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
}

void X11Window::DestroyWindow() {
    if (!window_) return;
    Display* display = connection_->display();
    loop_->Unregister(this);
    if (inputContext_) XDestroyIC(inputContext_);
    inputContext_ = nullptr;
    if (gc_) XFreeGC(display, static_cast<GC>(gc_));
    gc_ = nullptr;
    XDestroyWindow(display, window_);
    XFlush(display);
    window_ = 0;
    mapped_ = false;
    OnDestroyed();
}

void X11Window::SetTitle(const std::string& title) {
    if (!window_) return;
    Display* display = connection_->display();
    XChangeProperty(display, window_, connection_->InternAtom("_NET_WM_NAME"), connection_->InternAtom("UTF8_STRING"), 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
    XStoreName(display, window_, title.c_str());
}

void X11Window::SetIcon(int width, int height, const std::vector<std::uint32_t>& argb) {
    if (!window_ || width <= 0 || height <= 0 || argb.size() < static_cast<std::size_t>(width) * height) return;
    // The property is a list of longs, whatever their size on this machine.
    std::vector<long> data;
    data.reserve(2 + argb.size());
    data.push_back(width);
    data.push_back(height);
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) data.push_back(argb[i]);
    XChangeProperty(connection_->display(), window_, connection_->InternAtom("_NET_WM_ICON"), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(data.data()), static_cast<int>(data.size()));
}

void X11Window::Show(bool visible, bool takeFocus) {
    if (!window_) return;
    Display* display = connection_->display();
    if (visible) {
        XMapRaised(display, window_);
        mapped_ = true;
        dirty_ = true;
        if (takeFocus) {
            // Without a window manager focus follows the pointer unless we set it; wait
            // until the server has mapped the window, or the request fails.
            XSync(display, False);
            Focus();
        }
    } else {
        XUnmapWindow(display, window_);
        mapped_ = false;
    }
    XFlush(display);
}

void X11Window::Focus() {
    if (!window_ || !mapped_) return;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(connection_->display(), window_, &attributes) && attributes.map_state == IsViewable) {
        XSetInputFocus(connection_->display(), window_, RevertToParent, CurrentTime);
    }
}

void X11Window::Minimise() {
    if (!window_) return;
    Display* display = connection_->display();
    if (HasWindowManager(*connection_)) {
        XIconifyWindow(display, window_, connection_->screen());
        mapped_ = false;
    } else {
        // Nobody would iconify it; hiding is the closest a bare X server offers.
        Show(false, false);
    }
    XFlush(display);
}

void X11Window::SetBounds(int x, int y, int width, int height) {
    if (!window_) return;
    x_ = x;
    y_ = y;
    width_ = std::max(1, width);
    height_ = std::max(1, height);
    SetPlacementHints(connection_->display(), window_, x_, y_, width_, height_);
    XMoveResizeWindow(connection_->display(), window_, x_, y_, width_, height_);
    dirty_ = true;
    OnResized(width_, height_);
}

void X11Window::SetSize(int width, int height) { SetBounds(x_, y_, width, height); }

void X11Window::Bounds(int& x, int& y, int& width, int& height) const {
    x = x_;
    y = y_;
    width = width_;
    height = height_;
}

void X11Window::Centre() {
    if (!window_) return;
    int areaX, areaY, areaWidth, areaHeight;
    XWindowAttributes ownerAttributes;
    Window child;
    if (owner_ && XGetWindowAttributes(connection_->display(), owner_, &ownerAttributes) &&
        ownerAttributes.map_state == IsViewable) {
        XTranslateCoordinates(connection_->display(), owner_, connection_->root(), 0, 0, &areaX, &areaY, &child);
        areaWidth = ownerAttributes.width;
        areaHeight = ownerAttributes.height;
    } else {
        connection_->WorkArea(areaX, areaY, areaWidth, areaHeight);
    }
    SetBounds(areaX + (areaWidth - width_) / 2, areaY + (areaHeight - height_) / 2, width_, height_);
}

void X11Window::BeginResizeDrag(const MouseEvent& press, unsigned edges) {
    BeginMoveDrag(press);
    resizeEdges_ = edges;
}

void X11Window::BeginMoveDrag(const MouseEvent& press) {
    dragging_ = true;
    resizeEdges_ = 0;
    dragStartWidth_ = width_;
    dragStartHeight_ = height_;
    dragStartRootX_ = press.rootX;
    dragStartRootY_ = press.rootY;
    dragStartX_ = x_;
    dragStartY_ = y_;
}

void X11Window::Invalidate() {
    dirty_ = true;
    if (loop_ && !loop_->OnOwnerThread()) loop_->Wake();
}

bool X11Window::Post(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
    return window_ && X11EventLoop::PostToWindow(window_, message, wparam, lparam);
}

bool X11Window::PostTask(WindowTask task) {
    return window_ && X11EventLoop::PostTaskToWindow(window_, std::move(task));
}

void X11Window::SetTimer(std::uint32_t id, std::uint32_t periodMs) {
    if (window_) loop_->SetTimer(this, id, periodMs);
}

void X11Window::KillTimer(std::uint32_t id) {
    if (window_) loop_->KillTimer(this, id);
}

void X11Window::PaintNow() {
    dirty_ = false;
    OnPaint();
}

void X11Window::Present(const std::uint8_t* pixels, int width, int height, int stride) {
    PresentArea(pixels, width, height, stride, 0, 0, width, height);
}

void X11Window::PresentArea(const std::uint8_t* pixels, int width, int height, int stride, int x, int y, int w,
                            int h) {
    if (!window_ || !pixels || width <= 0 || height <= 0) return;
    x = std::max(0, x);
    y = std::max(0, y);
    w = std::min(w, width - x);
    h = std::min(h, height - y);
    if (w <= 0 || h <= 0) return;
    Display* display = connection_->display();
    Visual* visual = argb_ ? static_cast<Visual*>(connection_->ArgbVisual())
                           : DefaultVisual(display, connection_->screen());
    XImage* image = XCreateImage(display, visual, depth_, ZPixmap, 0,
                                 reinterpret_cast<char*>(const_cast<std::uint8_t*>(pixels)), width, height, 32, stride);
    if (!image) return;
    XPutImage(display, window_, static_cast<GC>(gc_), image, x, y, x, y, w, h);
    image->data = nullptr;  // the pixels belong to the caller
    XDestroyImage(image);
}

void X11Window::SetHandCursor(bool hand) {
    if (!window_ || hand == handCursor_) return;
    handCursor_ = hand;
    Display* display = connection_->display();
    if (hand) {
        Cursor cursor = XCreateFontCursor(display, XC_hand2);
        XDefineCursor(display, window_, cursor);
        XFreeCursor(display, cursor);  // the window keeps its own reference
    } else {
        XUndefineCursor(display, window_);
    }
    XFlush(display);
}

void X11Window::SetRoundShape(int radiusX, int radiusY) {
    if (!window_) return;
    Display* display = connection_->display();
    int eventBase = 0, errorBase = 0;
    if (!XShapeQueryExtension(display, &eventBase, &errorBase)) return;
    radiusX = std::min(radiusX, width_ / 2);
    radiusY = std::min(radiusY, height_ / 2);
    if (radiusX <= 0 || radiusY <= 0) {
        XShapeCombineMask(display, window_, ShapeBounding, 0, 0, 0 /* None */, ShapeSet);
        return;
    }
    // One rectangle per corner row, inset by where the ellipse crosses the row's middle.
    std::vector<XRectangle> rows;
    for (int y = 0; y < radiusY; ++y) {
        double dy = (radiusY - (y + 0.5)) / radiusY;
        int inset = static_cast<int>(std::lround(radiusX * (1.0 - std::sqrt(std::max(0.0, 1.0 - dy * dy)))));
        auto width = static_cast<unsigned short>(std::max(0, width_ - 2 * inset));
        rows.push_back({static_cast<short>(inset), static_cast<short>(y), width, 1});
        rows.push_back({static_cast<short>(inset), static_cast<short>(height_ - 1 - y), width, 1});
    }
    rows.push_back({0, static_cast<short>(radiusY), static_cast<unsigned short>(width_),
                    static_cast<unsigned short>(std::max(0, height_ - 2 * radiusY))});
    XShapeCombineRectangles(display, window_, ShapeBounding, 0, 0, rows.data(), static_cast<int>(rows.size()), ShapeSet,
                            Unsorted);
}

bool X11Window::ReadBackPixel(int x, int y, std::uint32_t& rgb) const {
    if (!window_ || x < 0 || y < 0 || x >= width_ || y >= height_) return false;
    XImage* image = XGetImage(connection_->display(), window_, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return false;
    rgb = static_cast<std::uint32_t>(XGetPixel(image, 0, 0) & 0xFFFFFF);
    XDestroyImage(image);
    return true;
}

void X11Window::OnMessage(std::uint32_t message, std::uintptr_t, std::intptr_t) {
    if (message == WM_CLOSE) DestroyWindow();
}

void X11Window::HandleMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
    OnMessage(message, wparam, lparam);
}

MouseEvent X11Window::MakeMouseEvent(const void* raw) const {
    const auto* button = static_cast<const XButtonEvent*>(raw);
    MouseEvent event;
    event.x = button->x;
    event.y = button->y;
    event.rootX = button->x_root;
    event.rootY = button->y_root;
    event.button = static_cast<int>(button->button);
    event.modifiers = Modifiers(button->state);
    return event;
}

void X11Window::HandleEvent(XEvent* event) {
    switch (event->type) {
    case Expose:
        if (event->xexpose.count == 0) dirty_ = true;
        break;
    case MapNotify:
        mapped_ = true;
        dirty_ = true;
        break;
    case UnmapNotify:
        mapped_ = false;
        break;
    case ConfigureNotify: {
        const XConfigureEvent& configure = event->xconfigure;
        bool resized = configure.width != width_ || configure.height != height_;
        // Without a window manager the event carries our own coordinates; with one the
        // position may be relative to its frame, so only trust sizes from it.
        width_ = configure.width;
        height_ = configure.height;
        if (resized) {
            dirty_ = true;
            OnResized(width_, height_);
        }
        break;
    }
    case ButtonPress: {
        if (!inputEnabled_) break;
        MouseEvent mouse = MakeMouseEvent(&event->xbutton);
        unsigned long time = event->xbutton.time;
        mouse.doubleClick = mouse.button == lastPressButton_ && time - lastPressTime_ <= kDoubleClickMs &&
                            std::abs(mouse.x - lastPressX_) <= 4 && std::abs(mouse.y - lastPressY_) <= 4;
        lastPressTime_ = mouse.doubleClick ? 0 : time;
        lastPressX_ = mouse.x;
        lastPressY_ = mouse.y;
        lastPressButton_ = mouse.button;
        Focus();
        OnMouseDown(mouse);
        break;
    }
    case ButtonRelease:
        if (dragging_) {
            dragging_ = false;
            break;
        }
        if (inputEnabled_) OnMouseUp(MakeMouseEvent(&event->xbutton));
        break;
    case MotionNotify: {
        if (dragging_) {
            int dx = event->xmotion.x_root - dragStartRootX_;
            int dy = event->xmotion.y_root - dragStartRootY_;
            if (resizeEdges_ == 0) {
                SetBounds(dragStartX_ + dx, dragStartY_ + dy, width_, height_);
                break;
            }
            constexpr int kMinSide = 32;
            int left = dragStartX_, top = dragStartY_;
            int right = left + dragStartWidth_, bottom = top + dragStartHeight_;
            if (resizeEdges_ & EDGE_LEFT) left = std::min(left + dx, right - kMinSide);
            if (resizeEdges_ & EDGE_RIGHT) right = std::max(right + dx, left + kMinSide);
            if (resizeEdges_ & EDGE_TOP) top = std::min(top + dy, bottom - kMinSide);
            if (resizeEdges_ & EDGE_BOTTOM) bottom = std::max(bottom + dy, top + kMinSide);
            SetBounds(left, top, right - left, bottom - top);
            break;
        }
        if (!inputEnabled_) break;
        MouseEvent mouse;
        mouse.x = event->xmotion.x;
        mouse.y = event->xmotion.y;
        mouse.rootX = event->xmotion.x_root;
        mouse.rootY = event->xmotion.y_root;
        mouse.modifiers = Modifiers(event->xmotion.state);
        OnMouseMove(mouse);
        break;
    }
    case LeaveNotify:
        if (!dragging_) OnMouseLeave();
        break;
    case KeyPress: {
        if (!inputEnabled_) break;
        KeyEvent key;
        key.modifiers = Modifiers(event->xkey.state);
        char buffer[64];
        KeySym keysym = 0;
        int length = 0;
        if (inputContext_) {
            Status status = 0;
            length = Xutf8LookupString(inputContext_, &event->xkey, buffer, sizeof buffer, &keysym, &status);
            if (status == XBufferOverflow) length = 0;
            if (status == XLookupChars || status == XLookupBoth) key.text.assign(buffer, std::max(0, length));
        } else {
            length = XLookupString(&event->xkey, buffer, sizeof buffer, &keysym, nullptr);
            key.text.assign(buffer, std::max(0, length));
        }
        // Control characters are keys, not text.
        if (key.text.size() == 1 && static_cast<unsigned char>(key.text[0]) < 0x20) key.text.clear();
        if (key.text.size() == 1 && key.text[0] == 0x7f) key.text.clear();
        key.keysym = keysym;
        OnKeyDown(key);
        break;
    }
    case FocusIn:
        if (inputContext_) XSetICFocus(inputContext_);
        OnFocusChanged(true);
        break;
    case FocusOut:
        if (inputContext_) XUnsetICFocus(inputContext_);
        OnFocusChanged(false);
        break;
    case ClientMessage:
        if (static_cast<XId>(event->xclient.data.l[0]) == connection_->InternAtom("WM_DELETE_WINDOW")) OnCloseRequest();
        break;
    default:
        break;
    }
}

XId X11Window::FindTopLevelByClass(X11Connection& connection, const std::string& className) {
    Display* display = connection.display();
    auto classMatches = [&](Window window) {
        XClassHint hint{};
        if (!XGetClassHint(display, window, &hint)) return false;
        bool match = hint.res_class && className == hint.res_class;
        if (hint.res_name) XFree(hint.res_name);
        if (hint.res_class) XFree(hint.res_class);
        return match;
    };
    Window rootReturn, parentReturn;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, connection.root(), &rootReturn, &parentReturn, &children, &count)) return 0;
    XId found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        if (classMatches(children[i])) {
            found = children[i];
            break;
        }
        // A reparenting window manager puts the client one level below its frame.
        Window* grandChildren = nullptr;
        unsigned int grandCount = 0;
        if (XQueryTree(display, children[i], &rootReturn, &parentReturn, &grandChildren, &grandCount)) {
            for (unsigned int j = 0; j < grandCount; ++j) {
                if (classMatches(grandChildren[j])) {
                    found = grandChildren[j];
                    break;
                }
            }
            if (grandChildren) XFree(grandChildren);
        }
    }
    if (children) XFree(children);
    return found;
}

void X11Window::Activate(X11Connection& connection, XId window) {
    Display* display = connection.display();
    XMapRaised(display, window);  // restores a hidden or iconified window
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = connection.InternAtom("_NET_ACTIVE_WINDOW");
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;  // from a pager-like tool: honour it
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, connection.root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(display, False);
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable) {
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
    }
    XFlush(display);
}

}  // namespace SkinUI::x11
