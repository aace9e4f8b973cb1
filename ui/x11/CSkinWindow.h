#pragma once
// The base of every skinned window: a native window whose face is a control tree built
// from a layout file of the skin package, painted with cairo and pango, with the hooks a
// window supplies (class name, skin folder and file, initialisation, clicks, notifications,
// window messages, final message).
//
// Creating the window opens the package, builds the tree from the skin file, applies the
// `Window` attributes (`size` resizes the window; `bktrans` asks for per-pixel alpha;
// `roundcorner` cuts the corners), attaches the tree, registers the window for its
// notifications and calls InitWindow. A skin file that does not build calls
// OnSkinLoadFailed (by default: the plain system message box, then exit code 1); without
// a package at all the window is created empty and InitWindow is not called.
//
// Keys: Escape is swallowed (it never closes a window); Return reaches the controls and
// then HandleWindowMessage. A press in the `caption` band drags the window unless the
// control under it is one that clicks (buttons, options, texts).
//
// With QV_CONTROL_RECTS_DIR set (scripts that drive the window, such as the demo), every
// frame that moves, shows, hides, enables or disables a named control rewrites
// DIR/<window class>.rects: one line per named control
// shown on screen, "name left top width height enabled" in window coordinates, clipped
// to its containers. Unset, nothing is written.
//
// Thread ownership: as CNativeWindow. Control setters may be called from other threads
// (the core stores the state and asks for a repaint, which this window schedules on its
// own thread, where notifications raised elsewhere are delivered too).

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "ui/CNotifyRouter.h"
#include "ui/ILayoutBuilderCallback.h"
#include "ui/INotifyListener.h"
#include "ui/IPainter.h"
#include "ui/x11/CNativeWindow.h"
#include "ui/x11/IMessageFilter.h"

namespace SkinUI {

class CControl;
class CControlHost;
class CImageCache;
class CPangoTextMeasurer;
class CWindowSurface;

class CSkinWindow : public CNativeWindow,
                    public CNotifyRouter,
                    public INotifyListener,
                    public IMessageFilter,
                    public ILayoutBuilderCallback {
public:
    CSkinWindow();
    ~CSkinWindow() override;

    // The control of this exact name in the window's tree (hidden and disabled included), or null.
    CControl* FindControl(std::string_view name) const;
    // Null before creation and after destruction.
    CControlHost* GetHost() const { return host_.get(); }

    // Shapes text for an interface language ("zh-cn", "zh-tw", "ja", "ar", ...: see
    // LanguageTagForIndex) and lays the texts out again.
    void SetLanguage(std::string_view tag);
    // Big and small icon from an image of the skin (default the product logo).
    bool SetIcon(std::string_view imageReference = "skin/logo.png");

    // Draws on the window's surface at once, outside the paint cycle, and shows the area
    // (the slide transition's frames). `area` clips the drawing.
    void PaintDirect(const TRect& area, const std::function<void(IPainter&)>& paint);
    // Draws an image reference (or a registered name) into `rect` the same way. False when
    // the image is found nowhere.
    bool DrawImageDirect(const TRect& rect, std::string_view reference);

    // The premultiplied pixel last painted at (x, y) (tests and diagnostics).
    std::uint32_t SurfacePixel(int x, int y) const;

    // INotifyListener: sees every notification first; the default routes it through the
    // message map (where "click" reaches OnClick).
    void Notify(TNotify& msg) override;
    // IMessageFilter: swallows Escape.
    bool MessageFilter(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) override;
    // ILayoutBuilderCallback: control classes of the window's own; none by default.
    std::unique_ptr<CControl> CreateControl(std::string_view className) override;

protected:
    virtual std::string GetSkinFolder() const { return "skin\\"; }
    virtual std::string GetSkinFile() const = 0;
    // The tree is attached and the window exists.
    virtual void InitWindow() {}
    virtual void OnClick(TNotify& msg) { (void)msg; }
    virtual void OnSkinLoadFailed(const std::string& error);

    bool OnCreating(x11::X11Window::CreateParams& params) override;
    void OnCreated() override;
    void OnWindowGone() override;

    // X11Window input and painting.
    void OnPaint() override;
    void OnResized(int width, int height) override;
    void OnMouseDown(const x11::MouseEvent& mouse) override;
    void OnMouseUp(const x11::MouseEvent& mouse) override;
    void OnMouseMove(const x11::MouseEvent& mouse) override;
    void OnMouseLeave() override;
    void OnKeyDown(const x11::KeyEvent& key) override;
    void OnMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) override;

private:
    class Sink;
    void RequestRepaint();
    void UpdateCursor(int x, int y);
    void ReportControlRects();

    std::unique_ptr<CControlHost> host_;
    std::unique_ptr<CPangoTextMeasurer> measurer_;
    std::unique_ptr<CWindowSurface> surface_;
    std::unique_ptr<Sink> sink_;
    std::string languageTag_;
    bool fullRepaint_ = true;
    bool firstFrameTraced_ = false;
    std::string reportedRects_;
    bool hasTree_ = false;
    std::atomic<bool> deliveryPosted_{false};
};

}  // namespace SkinUI
