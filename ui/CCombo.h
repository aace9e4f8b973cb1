#pragma once
// Drop-down list. Its children are ListLabelElement items; only the visible ones are
// listed. A click opens the list over the window (the host routes input to it); picking
// an item selects it. Selecting a different item sends "itemselect" with the new index as
// the first and the old one as the second parameter.
// Thread ownership: as CControl.

#include "ui/CContainer.h"
#include "ui/CTextLayout.h"

namespace SkinUI {

class CListLabelElement;

class CCombo : public CContainer {
public:
    CCombo();
    std::string_view GetClass() const override { return "Combo"; }
    bool BlocksCaptionDrag() const override { return true; }
    CControl* Add(std::unique_ptr<CControl> child) override;
    void SetAttribute(std::string_view name, std::string_view value) override;
    void SetPos(const TRect& rect) override;
    CControl* FindControlAt(TPoint p) override;
    void DoEvent(TEvent& event) override;
    void LayoutText(ITextMeasurer& measurer) override;
    void Paint(IPainter& painter) override;

    // Index of the selected item among all items, or -1.
    int GetCurSel() const { return curSel_; }
    // Selects item `index`; false when out of range. Same index: nothing happens.
    bool SelectItem(int index);
    CListLabelElement* GetListItem(int index) const;

    // --- the open list (host, window thread) ---------------------------------------------
    // Places the visible items below the combo (above it when the window is too short).
    void LayoutDropList(TSize client);
    void LayoutDropListText(ITextMeasurer& measurer);
    TRect DropBoxRect() const { return dropRect_; }
    // Index (among all items) of the item under `p` in the open list, or -1.
    int DropItemAt(TPoint p) const;
    void SetHotItem(int index);
    void PaintDropList(IPainter& painter);

private:
    void PaintStatusImage(IPainter& painter) override;
    void PaintText(IPainter& painter) override;

    int curSel_ = -1;
    int hotItem_ = -1;
    TSize dropBoxSize_{0, 150};
    TRect textPadding_;
    TRect dropRect_;
    CTextLayout textLayout_;
    int font_ = -1;
    int itemFont_ = -1;
    TColor textColor_ = 0xFF000000;
    TColor itemTextColor_ = 0xFF000000;
    TColor itemSelectedTextColor_ = 0xFF000000;
    TColor itemSelectedBkColor_ = 0xFFC1E3FF;
    TColor itemHotTextColor_ = 0xFF000000;
    TColor itemHotBkColor_ = 0xFFE9F5FF;
    TColor itemDisabledTextColor_ = 0xFFCCCCCC;
    TColor itemDisabledBkColor_ = 0xFFFFFFFF;
    TColor itemBkColor_ = 0xFFFFFFFF;
    std::string normalImage_, hotImage_, pushedImage_, disabledImage_;
};

}  // namespace SkinUI
