#pragma once
// Read-only holder of a long text (licence agreements): multi-line, wrapped, scrolled by
// the wheel when `vscrollbar` is set.
// Thread ownership: as CControl.

#include "ui/CLabel.h"

namespace SkinUI {

class CRichEdit : public CLabel {
public:
    CRichEdit();
    std::string_view GetClass() const override { return "RichEdit"; }
    void SetAttribute(std::string_view name, std::string_view value) override;
    void LayoutText(ITextMeasurer& measurer) override;
    void DoEvent(TEvent& event) override;

    bool IsReadOnly() const { return readOnly_; }
    int GetScrollPos() const { return scrollPos_; }
    int GetScrollRange() const { return scrollRange_; }

protected:
    TRect TextRect() const override;

private:
    bool readOnly_ = true;
    bool vscroll_ = false;
    int scrollPos_ = 0;
    int scrollRange_ = 0;
};

}  // namespace SkinUI
