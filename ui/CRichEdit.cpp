#include "ui/CRichEdit.h"

#include <algorithm>

#include "ui/CContainer.h"

namespace SkinUI {

CRichEdit::CRichEdit() { multiline_ = true; }

void CRichEdit::SetAttribute(std::string_view name, std::string_view value) {
    if (name == "readonly") {
        readOnly_ = ParseBool(value);
    } else if (name == "vscrollbar") {
        vscroll_ = ParseBool(value);
    } else if (name == "rich" || name == "autovscroll" || name == "menu") {
        // The text is shown as plain text; these change nothing here.
    } else {
        CLabel::SetAttribute(name, value);
    }
}

TRect CRichEdit::TextRect() const { return pos_.Deflated(textInset_).Offset(0, -scrollPos_); }

void CRichEdit::LayoutText(ITextMeasurer& measurer) {
    CLabel::LayoutText(measurer);
    int visible = pos_.Deflated(textInset_).Height();
    scrollRange_ = vscroll_ ? std::max(0, layout_.ContentHeight() - visible) : 0;
    if (scrollPos_ > scrollRange_) {
        scrollPos_ = scrollRange_;
        CLabel::LayoutText(measurer);
    }
}

void CRichEdit::DoEvent(TEvent& event) {
    if (event.type == EventType::EVENT_MOUSE_WHEEL && scrollRange_ > 0) {
        int pos = std::clamp(scrollPos_ - (event.wheelDelta > 0 ? CContainer::kWheelStep : -CContainer::kWheelStep), 0,
                             scrollRange_);
        if (pos != scrollPos_) {
            scrollPos_ = pos;
            TextChanged();
        }
        event.handled = true;
        return;
    }
    CLabel::DoEvent(event);
}

}  // namespace SkinUI
