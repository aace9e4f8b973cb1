#pragma once
// The base of every control: name, text, geometry, visibility, enabled state, background
// and border, attribute parsing, painting from the computed rectangle, and invalidation.
//
// Thread ownership: a control belongs to the thread of its window (the thread that built
// and attached the tree). The setters marked "any thread" may also be called from another
// thread (the install pipeline does): they take the host's state lock, store the new state
// and mark the window dirty; layout, painting and notifications then happen on the window
// thread. A control without a host (a tree built without a window) has one thread only.

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "ui/IPainter.h"
#include "ui/TNotify.h"
#include "ui/UiEvents.h"
#include "ui/UiTypes.h"

namespace SkinUI {

class CControlHost;
class ITextMeasurer;

class CControl {
public:
    CControl();
    virtual ~CControl();
    CControl(const CControl&) = delete;
    CControl& operator=(const CControl&) = delete;

    // The element name the layouts use for this class ("Button", "VerticalLayout", ...).
    virtual std::string_view GetClass() const { return "Control"; }

    // --- tree --------------------------------------------------------------------------
    CControl* GetParent() const { return parent_; }
    CControlHost* GetHost() const { return host_; }
    // Sets host and parent here and (containers) below.
    virtual void SetHost(CControlHost* host, CControl* parent);
    // Visits this control and everything below it, hidden ones included, in tree order.
    virtual void ForEach(const std::function<void(CControl&)>& visit);
    // The first control at or under this one whose name equals `name` ignoring letter case;
    // hidden controls included, unnamed controls never match.
    CControl* FindSubControl(std::string_view name);
    // The deepest visible control under `p`, or null (hit testing).
    virtual CControl* FindControlAt(TPoint p);
    // True when this control and all its parents are visible.
    bool IsVisibleInTree() const;
    bool IsEnabledInTree() const;

    // --- attributes ----------------------------------------------------------------------
    // Applies one layout attribute; names the class does not know are ignored.
    virtual void SetAttribute(std::string_view name, std::string_view value);
    // Applies a list written as name="value" pairs (a `Default` element's value).
    void ApplyAttributeList(std::string_view list);

    const std::string& GetName() const { return name_; }
    void SetName(std::string_view name) { name_.assign(name); }
    // Any thread; returns a copy.
    std::string GetText() const;
    // Any thread. Stores and redraws only when the text differs.
    virtual void SetText(std::string_view text);
    const std::string& GetToolTip() const { return tooltip_; }

    // --- geometry ------------------------------------------------------------------------
    // Rectangle in window coordinates, as the last layout pass left it.
    TRect GetPos() const { return pos_; }
    // Layout pass only: places the control (containers place their children too).
    virtual void SetPos(const TRect& rect);
    // -1 when not fixed: the control shares the remaining space.
    int GetFixedWidth() const { return fixedWidth_; }
    int GetFixedHeight() const { return fixedHeight_; }
    void SetFixedWidth(int width);
    // Any thread. Changes the height and relayouts the window.
    void SetFixedHeight(int height);
    const TRect& GetPadding() const { return padding_; }
    // Measuring: the size this control asks for inside `available` (-1 on an axis it leaves open).
    virtual TSize EstimateSize(TSize available) const;

    // --- state ---------------------------------------------------------------------------
    bool IsVisible() const { return visible_; }
    // Any thread. Hiding a control that has the focus drops the focus.
    virtual void SetVisible(bool visible);
    bool IsEnabled() const { return enabled_; }
    // Any thread. Disabled controls draw their disabled state and send no clicks.
    virtual void SetEnabled(bool enabled);
    bool IsFocused() const;
    bool IsHot() const;      // under the cursor
    bool IsPressed() const;  // holds the mouse capture
    virtual bool IsFocusable() const { return false; }
    // A press on this control inside the caption band does not drag the window.
    virtual bool BlocksCaptionDrag() const { return false; }

    // --- look ----------------------------------------------------------------------------
    std::string GetBkImage() const;
    // Any thread. An entry name, an image reference, or a name registered with the window;
    // no effect when unchanged.
    void SetBkImage(std::string_view reference);
    TColor GetBkColor() const { return bkColor_; }

    // --- passes --------------------------------------------------------------------------
    // Window thread, after layout: recompute text placement that depends on the rectangle.
    virtual void LayoutText(ITextMeasurer& measurer);
    // True when the text must be placed again before the next paint.
    bool IsTextDirty() const { return textDirty_; }
    // Paints from the computed rectangles only.
    virtual void Paint(IPainter& painter);
    // Input from the host (window thread).
    virtual void DoEvent(TEvent& event);

    // Repaint this control's area soon (any thread).
    void Invalidate();
    // Relayout the window and repaint soon (any thread).
    void NeedLayout();

protected:
    virtual void PaintBkColor(IPainter& painter);
    virtual void PaintBkImage(IPainter& painter);
    virtual void PaintStatusImage(IPainter& painter) { (void)painter; }
    virtual void PaintText(IPainter& painter) { (void)painter; }
    virtual void PaintBorder(IPainter& painter);
    // Draws an image reference into this control's rectangle; false when nothing was drawn.
    bool DrawImage(IPainter& painter, std::string_view reference);
    void SendNotify(std::string_view type, std::intptr_t wParam = 0, std::intptr_t lParam = 0);
    // The text or its look changed: place it again before the next paint, and repaint.
    void TextChanged();

    std::string name_;
    std::string text_;
    std::string tooltip_;
    TRect pos_;
    TRect padding_;
    int fixedWidth_ = -1;
    int fixedHeight_ = -1;
    // Atomic because other threads flip them while the window thread hit-tests.
    std::atomic<bool> visible_{true};
    std::atomic<bool> enabled_{true};
    TColor bkColor_ = 0;
    std::string bkImage_;
    TColor borderColor_ = 0;
    TRect borderSize_;
    bool textDirty_ = true;

private:
    CControl* parent_ = nullptr;
    CControlHost* host_ = nullptr;
};

}  // namespace SkinUI
