#pragma once
// Static text, plain or with the brace markup (showhtml). The text is placed during the
// layout pass (LayoutText) and painted from that placement.
// Thread ownership: as CControl.

#include "ui/CControl.h"
#include "ui/CTextLayout.h"

namespace SkinUI {

class CLabel : public CControl {
public:
    std::string_view GetClass() const override { return "Label"; }
    void SetAttribute(std::string_view name, std::string_view value) override;
    void LayoutText(ITextMeasurer& measurer) override;

    int GetFont() const { return font_; }
    TColor GetTextColor() const { return textColor_; }
    TextAlign GetAlign() const { return align_; }
    bool IsShowHtml() const { return showHtml_; }
    bool IsMultiLine() const { return multiline_; }
    const CTextLayout& GetTextLayout() const { return layout_; }

protected:
    void PaintText(IPainter& painter) override;
    // The colour the text is drawn in now (state dependent in subclasses).
    virtual TColor CurrentTextColor() const;
    // The link under the cursor, for the hover colour (only Text has links that react).
    virtual int HotLink() const { return -1; }
    // The text's box: the rectangle less the text inset.
    virtual TRect TextRect() const { return pos_.Deflated(textInset_); }

    int font_ = -1;
    TColor textColor_ = 0xFF000000;
    TColor disabledTextColor_ = 0;
    TextAlign align_ = TextAlign::ALIGN_LEFT;
    bool showHtml_ = false;
    bool multiline_ = false;
    TRect textInset_;
    CTextLayout layout_;
};

}  // namespace SkinUI
