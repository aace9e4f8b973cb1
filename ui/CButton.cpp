#include "ui/CButton.h"

namespace SkinUI {

CButton::CButton() { align_ = TextAlign::ALIGN_CENTER; }

void CButton::SetAttribute(std::string_view name, std::string_view value) {
    if (name == "normalimage") {
        normalImage_.assign(value);
    } else if (name == "hotimage") {
        hotImage_.assign(value);
    } else if (name == "pushedimage") {
        pushedImage_.assign(value);
    } else if (name == "disabledimage") {
        disabledImage_.assign(value);
    } else if (name == "focusedimage") {
        focusedImage_.assign(value);
    } else if (name == "hottextcolor") {
        hotTextColor_ = ParseColor(value).value_or(0);
    } else if (name == "pushedtextcolor") {
        pushedTextColor_ = ParseColor(value).value_or(0);
    } else {
        CLabel::SetAttribute(name, value);
    }
}

bool CButton::Activate() {
    if (!IsEnabledInTree() || !IsVisibleInTree()) return false;
    SendNotify("click");
    return true;
}

void CButton::DoEvent(TEvent& event) {
    if (event.type == EventType::EVENT_BUTTON_UP) {
        Invalidate();
        if (pos_.Contains(event.pt)) Activate();
        return;
    }
    if (event.type == EventType::EVENT_MOUSE_MOVE && IsPressed()) {
        Invalidate();  // pushed look follows the cursor in and out
        return;
    }
    CLabel::DoEvent(event);
}

TColor CButton::CurrentTextColor() const {
    if (IsEnabledInTree()) {
        if (IsPressed() && pushedTextColor_ != 0) return pushedTextColor_;
        if (IsHot() && hotTextColor_ != 0) return hotTextColor_;
    }
    return CLabel::CurrentTextColor();
}

void CButton::PaintStatusImage(IPainter& painter) {
    if (!IsEnabledInTree()) {
        if (!disabledImage_.empty() && DrawImage(painter, disabledImage_)) return;
    } else if (IsPressed() && IsHot()) {
        if (!pushedImage_.empty() && DrawImage(painter, pushedImage_)) return;
    } else if (IsHot()) {
        if (!hotImage_.empty() && DrawImage(painter, hotImage_)) return;
    } else if (IsFocused()) {
        if (!focusedImage_.empty() && DrawImage(painter, focusedImage_)) return;
    }
    if (!normalImage_.empty()) DrawImage(painter, normalImage_);
}

}  // namespace SkinUI
