#pragma once
// A control that owns children and places them: one after another down (vertical) or
// across (horizontal), or all in the same place (tab pages). Children without a fixed size
// along the axis share what the fixed ones leave; hidden children take no space.
// With vscrollbar="true" a vertical container scrolls content taller than itself.
// Thread ownership: as CControl.

#include <memory>
#include <vector>

#include "ui/CControl.h"
#include "ui/CScrollBar.h"

namespace SkinUI {

class CContainer : public CControl {
public:
    enum class Orientation { ORIENT_VERTICAL, ORIENT_HORIZONTAL, ORIENT_STACK };

    explicit CContainer(Orientation orientation = Orientation::ORIENT_VERTICAL) : orientation_(orientation) {}
    ~CContainer() override;

    std::string_view GetClass() const override { return "Container"; }

    // Takes ownership; the child joins this control's host.
    virtual CControl* Add(std::unique_ptr<CControl> child);
    int GetCount() const { return static_cast<int>(children_.size()); }
    CControl* GetItemAt(int index) const;
    int GetItemIndex(const CControl* child) const;

    void SetHost(CControlHost* host, CControl* parent) override;
    void ForEach(const std::function<void(CControl&)>& visit) override;
    CControl* FindControlAt(TPoint p) override;
    void SetAttribute(std::string_view name, std::string_view value) override;
    void SetPos(const TRect& rect) override;
    void Paint(IPainter& painter) override;
    void DoEvent(TEvent& event) override;

    const TRect& GetInset() const { return inset_; }
    int GetChildPadding() const { return childPadding_; }
    bool HasVScrollBar() const { return vscroll_; }
    int GetScrollPos() const { return scrollPos_; }
    int GetScrollRange() const { return scrollRange_; }
    // Window thread. Clamped to 0..range; relayouts.
    void SetScrollPos(int pos);
    // The vertical scroll bar (with vscrollbar="true" inside a window), or null.
    CScrollBar* GetVScrollBar() const { return vbar_.get(); }

    static constexpr int kWheelStep = 40;

protected:
    // Places the visible children inside `inner` along the orientation.
    virtual void LayoutChildren(const TRect& inner);

    std::vector<std::unique_ptr<CControl>> children_;
    Orientation orientation_;
    TRect inset_;
    int childPadding_ = 0;
    bool vscroll_ = false;
    int scrollPos_ = 0;
    int scrollRange_ = 0;
    std::unique_ptr<CScrollBar> vbar_;
};

}  // namespace SkinUI
