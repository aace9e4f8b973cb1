#include "ui/x11/CSkinWindow.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <X11/keysym.h>

#include "platform/FileStreams.h"
#include "ui/CControl.h"
#include "ui/CControlHost.h"
#include "ui/CEdit.h"
#include "ui/CImage.h"
#include "ui/CRenderer.h"
#include "ui/CSkinPackage.h"
#include "ui/CText.h"
#include "ui/x11/CPangoTextMeasurer.h"
#include "ui/x11/CWindowSurface.h"
#include "ui/x11/X11EventLoop.h"
#include "ui/x11/X11SystemMessageBox.h"

namespace SkinUI {
namespace {

// Wakes the window thread to hand over notifications raised on other threads.
constexpr std::uint32_t kDeliverNotifications = 0x7FFF0010;
constexpr int kWheelDelta = 120;

struct TKeyMapping {
    unsigned long keysym;
    Key key;
    std::uintptr_t virtualKey;
};

constexpr TKeyMapping kKeys[] = {
    {XK_Escape, Key::KEY_ESCAPE, VK_ESCAPE},     {XK_Return, Key::KEY_RETURN, VK_RETURN},
    {XK_KP_Enter, Key::KEY_RETURN, VK_RETURN},   {XK_Tab, Key::KEY_TAB, VK_TAB},
    {XK_BackSpace, Key::KEY_BACKSPACE, VK_BACK}, {XK_Delete, Key::KEY_DELETE, VK_DELETE},
    {XK_KP_Delete, Key::KEY_DELETE, VK_DELETE},  {XK_Left, Key::KEY_LEFT, VK_LEFT},
    {XK_KP_Left, Key::KEY_LEFT, VK_LEFT},        {XK_Right, Key::KEY_RIGHT, VK_RIGHT},
    {XK_KP_Right, Key::KEY_RIGHT, VK_RIGHT},     {XK_Up, Key::KEY_UP, VK_UP},
    {XK_KP_Up, Key::KEY_UP, VK_UP},              {XK_Down, Key::KEY_DOWN, VK_DOWN},
    {XK_KP_Down, Key::KEY_DOWN, VK_DOWN},        {XK_Home, Key::KEY_HOME, VK_HOME},
    {XK_KP_Home, Key::KEY_HOME, VK_HOME},        {XK_End, Key::KEY_END, VK_END},
    {XK_KP_End, Key::KEY_END, VK_END},
};

const TKeyMapping* FindKey(unsigned long keysym) {
    for (const auto& mapping : kKeys) {
        if (mapping.keysym == keysym) return &mapping;
    }
    return nullptr;
}

// Letters and digits carry their upper-case ASCII code as key code.
std::uintptr_t VirtualKeyOf(unsigned long keysym) {
    if (const TKeyMapping* mapping = FindKey(keysym)) return mapping->virtualKey;
    if (keysym >= XK_a && keysym <= XK_z) return keysym - XK_a + 'A';
    if ((keysym >= XK_A && keysym <= XK_Z) || (keysym >= XK_0 && keysym <= XK_9)) return keysym;
    return 0;
}

}  // namespace

class CSkinWindow::Sink final : public IHostSink {
public:
    explicit Sink(CSkinWindow& window) : window_(window) {}
    void RequestRepaint() override { window_.RequestRepaint(); }

private:
    CSkinWindow& window_;
};

CSkinWindow::CSkinWindow() {
    AddMessageHandler("click", "", [this](TNotify& msg) { OnClick(msg); });
}

CSkinWindow::~CSkinWindow() {
    // The native window goes first (its final hooks still see a whole object).
    DestroyWindow();
}

CControl* CSkinWindow::FindControl(std::string_view name) const { return host_ ? host_->FindControl(name) : nullptr; }

void CSkinWindow::SetLanguage(std::string_view tag) {
    languageTag_.assign(tag);
    if (!measurer_ || !host_) return;
    measurer_->SetLanguage(languageTag_);
    host_->NeedLayout();
}

bool CSkinWindow::SetIcon(std::string_view imageReference) {
    if (!host_ || !IsAlive()) return false;
    auto image = host_->Images().Get(imageReference);
    if (!image) return false;
    // The icon property wants straight (not premultiplied) alpha.
    std::vector<std::uint32_t> argb(static_cast<std::size_t>(image->Width()) * image->Height());
    for (int y = 0; y < image->Height(); ++y) {
        for (int x = 0; x < image->Width(); ++x) {
            std::uint32_t p = image->Pixel(x, y);
            std::uint32_t a = p >> 24;
            std::uint32_t out = p;
            if (a != 0 && a != 255) {
                auto channel = [&](int shift) { return std::min<std::uint32_t>(255, ((p >> shift) & 0xFF) * 255 / a); };
                out = (a << 24) | (channel(16) << 16) | (channel(8) << 8) | channel(0);
            }
            argb[static_cast<std::size_t>(y) * image->Width() + x] = out;
        }
    }
    x11::X11Window::SetIcon(image->Width(), image->Height(), argb);
    return true;
}

void CSkinWindow::PaintDirect(const TRect& area, const std::function<void(IPainter&)>& paint) {
    if (!surface_ || !measurer_ || !IsAlive()) return;
    surface_->PaintDirect(*measurer_, area, paint);
    TSize size = surface_->Size();
    TRect shown = area.Intersect({0, 0, size.cx, size.cy});
    if (shown.IsEmpty()) return;
    PresentArea(surface_->Data(), size.cx, size.cy, surface_->Stride(), shown.left, shown.top, shown.Width(),
                shown.Height());
    loop()->connection().Flush();
}

bool CSkinWindow::DrawImageDirect(const TRect& rect, std::string_view reference) {
    if (!host_) return false;
    bool drawn = false;
    PaintDirect(rect, [&](IPainter& painter) { drawn = CRenderer::DrawImage(painter, host_->Images(), rect, reference); });
    return drawn;
}

std::uint32_t CSkinWindow::SurfacePixel(int x, int y) const { return surface_ ? surface_->Pixel(x, y) : 0; }

void CSkinWindow::Notify(TNotify& msg) { RouteNotify(msg); }

bool CSkinWindow::MessageFilter(std::uint32_t message, std::uintptr_t wparam, std::intptr_t) {
    return message == WM_KEYDOWN && wparam == VK_ESCAPE;
}

std::unique_ptr<CControl> CSkinWindow::CreateControl(std::string_view) { return nullptr; }

void CSkinWindow::OnSkinLoadFailed(const std::string& error) {
    std::fprintf(stderr, "SkinUI: %s\n", error.c_str());
    x11::X11SystemMessageBox::Show("加载资源文件失败", "SkinUI");
    std::exit(1);
}

bool CSkinWindow::OnCreating(x11::X11Window::CreateParams& params) {
    measurer_ = std::make_unique<CPangoTextMeasurer>();
    if (!languageTag_.empty()) measurer_->SetLanguage(languageTag_);
    surface_ = std::make_unique<CWindowSurface>();
    CSkinPackage* package = CSkinPackage::Current();
    host_ = std::make_unique<CControlHost>(package);
    hasTree_ = false;
    if (package == nullptr) return true;  // a window without content
    std::string error;
    if (!host_->LoadLayout(GetSkinFile(), this, &error)) {
        host_.reset();
        OnSkinLoadFailed(error);
        return false;
    }
    hasTree_ = true;
    const TWindowAttributes& attributes = host_->WindowAttributes();
    if (attributes.size.cx > 0 && attributes.size.cy > 0) {
        params.width = attributes.size.cx;
        params.height = attributes.size.cy;
    }
    params.perPixelAlpha = attributes.bkTrans;
    return true;
}

void CSkinWindow::OnCreated() {
    sink_ = std::make_unique<Sink>(*this);
    host_->SetTextMeasurer(measurer_.get());
    host_->SetSink(sink_.get());
    int x, y, width, height;
    Bounds(x, y, width, height);
    host_->SetClientSize({width, height});
    const TWindowAttributes& attributes = host_->WindowAttributes();
    if (HasPerPixelAlpha()) {
        surface_->SetLook(attributes.bkTrans, attributes.roundCorner);
    } else {
        // Without alpha the server cuts the corners; see-through pixels would show black.
        surface_->SetLook(false, {});
        SetRoundShape(attributes.roundCorner.cx, attributes.roundCorner.cy);
    }
    fullRepaint_ = true;
    host_->AddNotifier(this);
    if (hasTree_) InitWindow();
}

void CSkinWindow::OnWindowGone() {
    if (host_) {
        host_->RemoveNotifier(this);
        host_->SetSink(nullptr);
    }
    host_.reset();
    sink_.reset();
    surface_.reset();
    measurer_.reset();
}

void CSkinWindow::RequestRepaint() {
    Invalidate();
    x11::X11EventLoop* owner = loop();
    if (owner != nullptr && !owner->OnOwnerThread() && !deliveryPosted_.exchange(true)) {
        if (!PostMessage(kDeliverNotifications)) deliveryPosted_ = false;
    }
}

void CSkinWindow::OnMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
    if (message == kDeliverNotifications) {
        deliveryPosted_ = false;
        if (host_) host_->DeliverPendingNotifications();
        return;
    }
    CNativeWindow::OnMessage(message, wparam, lparam);
}

void CSkinWindow::OnPaint() {
    if (!host_ || !surface_ || !measurer_) return;
    int x, y, width, height;
    Bounds(x, y, width, height);
    if (surface_->Size() != TSize{width, height}) {
        if (!surface_->Resize({width, height})) return;
        fullRepaint_ = true;
    }
    TRect area = host_->TakeDirtyArea();
    if (fullRepaint_) area = {0, 0, width, height};
    fullRepaint_ = false;
    if (!area.IsEmpty()) surface_->Render(*host_, *measurer_, area);
    // The whole picture: an exposure may have asked for any part of it.
    Present(surface_->Data(), width, height, surface_->Stride());
    if (!firstFrameTraced_) {
        firstFrameTraced_ = true;
        // Start-up benchmark hook (bench/startup.sh): say when the first frame is on the server.
        if (std::getenv("QV_TRACE_FIRST_FRAME") != nullptr) {
            if (x11::X11EventLoop* current = x11::X11EventLoop::ForCurrentThread()) current->connection().Flush();
            std::fprintf(stderr, "first frame presented: %s\n", GetWindowClassName().c_str());
            std::fflush(stderr);
        }
    }
    ReportControlRects();
}

void CSkinWindow::ReportControlRects() {
    const char* dir = std::getenv("QV_CONTROL_RECTS_DIR");
    if (dir == nullptr || *dir == '\0' || !host_ || host_->GetRoot() == nullptr) return;
    std::string text;
    host_->GetRoot()->ForEach([&](CControl& control) {
        const std::string& name = control.GetName();
        // One word per name keeps the lines readable by `read` in a shell.
        if (name.empty() || name.find_first_of(" \t\r\n") != std::string::npos || !control.IsVisibleInTree()) return;
        // What a scrolled or squeezed container cuts off cannot be clicked.
        TRect shown = control.GetPos();
        for (const CControl* up = control.GetParent(); up != nullptr && !shown.IsEmpty(); up = up->GetParent())
            shown = shown.Intersect(up->GetPos());
        if (shown.IsEmpty()) return;
        text += name + ' ' + std::to_string(shown.left) + ' ' + std::to_string(shown.top) + ' ' +
                std::to_string(shown.Width()) + ' ' + std::to_string(shown.Height()) + ' ' +
                (control.IsEnabledInTree() ? '1' : '0') + '\n';
    });
    if (text == reportedRects_) return;
    // A reader never sees half a file; a failed write is tried again at the next frame.
    if (platform::ReplaceFileAtomically(std::string(dir) + '/' + GetWindowClassName() + ".rects", text))
        reportedRects_ = std::move(text);
}

void CSkinWindow::OnResized(int width, int height) {
    if (!host_) return;
    host_->SetClientSize({width, height});
    fullRepaint_ = true;
    if (!HasPerPixelAlpha()) {
        const TWindowAttributes& attributes = host_->WindowAttributes();
        SetRoundShape(attributes.roundCorner.cx, attributes.roundCorner.cy);
    }
}

void CSkinWindow::OnMouseDown(const x11::MouseEvent& mouse) {
    if (!host_) return;
    TPoint pt{mouse.x, mouse.y};
    if (mouse.button == 4 || mouse.button == 5) {
        host_->OnMouseWheel(pt, mouse.button == 4 ? kWheelDelta : -kWheelDelta);
        return;
    }
    if (mouse.button != 1) return;
    using Edge = x11::X11Window::Edge;
    switch (host_->HitTest(pt, false)) {
        case HitArea::HIT_CAPTION: BeginMoveDrag(mouse); return;
        case HitArea::HIT_LEFT: BeginResizeDrag(mouse, Edge::EDGE_LEFT); return;
        case HitArea::HIT_TOP: BeginResizeDrag(mouse, Edge::EDGE_TOP); return;
        case HitArea::HIT_RIGHT: BeginResizeDrag(mouse, Edge::EDGE_RIGHT); return;
        case HitArea::HIT_BOTTOM: BeginResizeDrag(mouse, Edge::EDGE_BOTTOM); return;
        case HitArea::HIT_TOPLEFT: BeginResizeDrag(mouse, Edge::EDGE_TOP | Edge::EDGE_LEFT); return;
        case HitArea::HIT_TOPRIGHT: BeginResizeDrag(mouse, Edge::EDGE_TOP | Edge::EDGE_RIGHT); return;
        case HitArea::HIT_BOTTOMLEFT: BeginResizeDrag(mouse, Edge::EDGE_BOTTOM | Edge::EDGE_LEFT); return;
        case HitArea::HIT_BOTTOMRIGHT: BeginResizeDrag(mouse, Edge::EDGE_BOTTOM | Edge::EDGE_RIGHT); return;
        case HitArea::HIT_CLIENT: break;
    }
    host_->OnButtonDown(pt);
}

void CSkinWindow::OnMouseUp(const x11::MouseEvent& mouse) {
    if (!host_ || mouse.button != 1) return;
    host_->OnButtonUp({mouse.x, mouse.y});
}

void CSkinWindow::OnMouseMove(const x11::MouseEvent& mouse) {
    if (!host_) return;
    host_->OnMouseMove({mouse.x, mouse.y});
    UpdateCursor(mouse.x, mouse.y);
}

void CSkinWindow::OnMouseLeave() {
    if (!host_) return;
    host_->OnMouseLeave();
    SetHandCursor(false);
}

void CSkinWindow::UpdateCursor(int x, int y) {
    bool overLink = false;
    if (auto* text = dynamic_cast<CText*>(host_->GetHot())) {
        overLink = text->IsEnabledInTree() && text->GetTextLayout().LinkAt({x, y}) >= 0;
    }
    SetHandCursor(overLink);
}

void CSkinWindow::OnKeyDown(const x11::KeyEvent& keyEvent) {
    if (!host_) return;
    std::uintptr_t virtualKey = VirtualKeyOf(keyEvent.keysym);
    if (MessageFilter(WM_KEYDOWN, virtualKey, 0)) {
        // Escape still folds an open drop-down list away; it only never closes the window.
        if (virtualKey == VK_ESCAPE && host_->GetOpenCombo() != nullptr) host_->CloseDropList();
        return;
    }
    const bool control = (keyEvent.modifiers & x11::MOD_CONTROL) != 0;
    if (control && virtualKey == 'A') {
        if (auto* edit = dynamic_cast<CEdit*>(host_->GetFocus())) {
            edit->SelectAll();
            return;
        }
    }
    bool consumed = false;
    if (const TKeyMapping* mapping = FindKey(keyEvent.keysym)) {
        consumed = host_->OnKeyDown(mapping->key);
    } else if (!keyEvent.text.empty() && !control && (keyEvent.modifiers & x11::MOD_ALT) == 0) {
        host_->OnChar(keyEvent.text);
        consumed = host_->GetFocus() != nullptr;
    }
    if (consumed || virtualKey == 0 || !host_) return;
    bool handled = false;
    HandleWindowMessage(WM_KEYDOWN, virtualKey, 0, handled);
}

}  // namespace SkinUI
