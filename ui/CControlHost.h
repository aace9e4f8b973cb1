#pragma once
// The display-free half of a skinned window: it owns the control tree and the window's
// resources (fonts, default attributes, images, window attributes), runs layout, turns
// input into hover, press, focus and click state, hit-tests the caption and resize zones,
// and delivers notifications. The native window (backend) supplies size, input, a
// painter and a text measurer, and repaints when asked through IHostSink.
//
// Thread ownership: the window thread is the thread that constructed the host. Everything
// runs there except Invalidate, NeedLayout, NeedTextLayout and SendNotify, which any
// thread may call; controls' cross-thread setters go through those. State shared with
// other threads is guarded by one recursive state lock (StateGuard), held by the layout and
// paint passes and by every setter, never while a notification is handled: a handler may
// open a modal loop without stalling other threads. Notifications raised on the window
// thread are delivered at once (a click reaches its handler before an option changes);
// those raised on another thread wait in a queue until DeliverPendingNotifications runs
// on the window thread (the backend calls it when woken through IHostSink).

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ui/CImageCache.h"
#include "ui/IHostSink.h"
#include "ui/INotifyListener.h"
#include "ui/IPainter.h"
#include "ui/ITextMeasurer.h"
#include "ui/TNotify.h"
#include "ui/UiEvents.h"

namespace SkinUI {

class CControl;
class CCombo;
class CSkinPackage;
class ILayoutBuilderCallback;

// Attributes of the `Window` element.
struct TWindowAttributes {
    TSize size;             // initial client size; 0,0 when not given
    TRect caption;          // l,t,r,b: drag band
    TRect sizebox;          // resize zone widths
    TSize roundCorner;
    bool showShadow = false;
    int shadowSize = 0;
    TRect shadowPosition;
    int shadowDarkness = 0;
    bool gdiplusText = false;
    bool bkTrans = false;
    TColor linkColor = 0;
    TColor linkHoverColor = 0;
};

// Where a press lands, for the backend's move and resize handling.
enum class HitArea { HIT_CLIENT, HIT_CAPTION, HIT_LEFT, HIT_TOP, HIT_RIGHT, HIT_BOTTOM,
                     HIT_TOPLEFT, HIT_TOPRIGHT, HIT_BOTTOMLEFT, HIT_BOTTOMRIGHT };

class CControlHost {
public:
    explicit CControlHost(const CSkinPackage* package);
    ~CControlHost();
    CControlHost(const CControlHost&) = delete;
    CControlHost& operator=(const CControlHost&) = delete;

    // Holds the state lock for its scope; a null host holds nothing.
    class StateGuard {
    public:
        explicit StateGuard(const CControlHost* host);
        ~StateGuard();
        StateGuard(const StateGuard&) = delete;
        StateGuard& operator=(const StateGuard&) = delete;

    private:
        const CControlHost* host_;
    };

    // --- resources -----------------------------------------------------------------------
    const CSkinPackage* Package() const { return package_; }
    void AddFont(const TFontInfo& font) { fonts_.push_back(font); }
    const std::vector<TFontInfo>& Fonts() const { return fonts_; }
    // Attribute list applied to every control of `className` (letter case ignored) before its own.
    void SetDefaultAttributes(std::string_view className, std::string_view list);
    const std::string* GetDefaultAttributes(std::string_view className) const;
    CImageCache& Images() { return images_; }
    TWindowAttributes& WindowAttributes() { return attributes_; }
    // Applies one `Window` attribute; unknown names are ignored.
    void SetWindowAttribute(std::string_view name, std::string_view value);

    // --- tree ----------------------------------------------------------------------------
    // Builds `file` of the host's package into this window: registers the `Window`
    // attributes and resources, attaches the tree and takes the `size` attribute as the
    // client size. False (nothing attached) with `error` set when the file does not build.
    bool LoadLayout(std::string_view file, ILayoutBuilderCallback* callback = nullptr, std::string* error = nullptr);
    void AttachRoot(std::unique_ptr<CControl> root);
    CControl* GetRoot() const { return root_.get(); }
    // The control of this exact name (letter case counts), hidden and disabled included.
    CControl* FindControl(std::string_view name) const;

    // --- layout and painting (window thread) ---------------------------------------------
    void SetClientSize(TSize size);
    TSize GetClientSize() const { return clientSize_; }
    // Texts are placed again with the new measurer at the next layout pass.
    void SetTextMeasurer(ITextMeasurer* measurer) {
        measurer_ = measurer;
        NeedLayout();
    }
    ITextMeasurer* GetTextMeasurer() const { return measurer_; }
    void SetSink(IHostSink* sink) { sink_ = sink; }
    // Runs the layout pass (and places texts) when something asked for it.
    void UpdateLayout();
    // Lays out if needed, then paints the tree and an open drop list.
    void Paint(IPainter& painter);

    // --- invalidation (any thread) -------------------------------------------------------
    void Invalidate(const TRect& rect);
    void NeedLayout();
    void NeedTextLayout();
    bool IsLayoutNeeded() const { return layoutNeeded_.load(); }
    // The area waiting for repaint; empty when nothing does. Clears it.
    TRect TakeDirtyArea();
    bool IsDirty() const;

    // --- input (window thread) -----------------------------------------------------------
    void OnMouseMove(TPoint pt);
    void OnMouseLeave();
    void OnButtonDown(TPoint pt);
    void OnButtonUp(TPoint pt);
    void OnMouseWheel(TPoint pt, int delta);
    // Returns true when the key was consumed. Escape is always swallowed so it never
    // closes a window; Return is passed on.
    bool OnKeyDown(Key key);
    void OnChar(std::string_view text);
    // Caption drag or resize zone under `pt` (resize only while not maximised).
    HitArea HitTest(TPoint pt, bool maximized) const;

    // --- focus, hover, capture -----------------------------------------------------------
    CControl* GetFocus() const { return focus_; }
    void SetFocus(CControl* control);
    CControl* GetHot() const { return hot_; }
    CControl* GetPressed() const { return pressed_; }
    CControl* FindControlAt(TPoint pt) const;
    // Drop list of a combo box shown over the window, or null.
    CCombo* GetOpenCombo() const { return openCombo_; }
    void OpenDropList(CCombo* combo);
    void CloseDropList();

    // --- notifications -------------------------------------------------------------------
    void AddNotifier(INotifyListener* listener);
    void RemoveNotifier(INotifyListener* listener);
    void SendNotify(CControl* sender, std::string_view type, std::intptr_t wParam = 0, std::intptr_t lParam = 0);
    // Window thread: hands queued notifications to the listeners, oldest first.
    void DeliverPendingNotifications();

    // Called by controls: a control (or a parent of it) was hidden or disabled, or is destroyed.
    void ControlHidden(CControl* control);
    void ControlGone(CControl* control);

private:
    bool OnWindowThread() const { return std::this_thread::get_id() == windowThread_; }
    void SetHot(CControl* control);
    void RememberCursor(TPoint pt);
    void WakeBackend();

    const CSkinPackage* package_;
    std::thread::id windowThread_;
    std::vector<TFontInfo> fonts_;
    std::map<std::string, std::string> defaults_;  // lower-case class name -> attribute list
    CImageCache images_;
    TWindowAttributes attributes_;
    std::unique_ptr<CControl> root_;
    TSize clientSize_;
    ITextMeasurer* measurer_ = nullptr;
    IHostSink* sink_ = nullptr;

    mutable std::recursive_mutex stateLock_;
    std::atomic<bool> layoutNeeded_{true};
    std::atomic<bool> textLayoutNeeded_{true};
    TRect dirty_;  // under stateLock_
    bool dirtyAll_ = false;

    // Atomic: another thread may clear them by hiding a control (ControlHidden).
    std::atomic<CControl*> focus_{nullptr};
    std::atomic<CControl*> hot_{nullptr};
    std::atomic<CControl*> pressed_{nullptr};
    std::atomic<CCombo*> openCombo_{nullptr};
    TPoint lastCursor_;

    std::vector<INotifyListener*> listeners_;
    std::deque<TNotify> pending_;  // under stateLock_
};

}  // namespace SkinUI
