#include "ui/COption.h"

#include "ui/CControlHost.h"

namespace SkinUI {

void COption::SetAttribute(std::string_view name, std::string_view value) {
    if (name == "group") {
        group_.assign(value);
    } else if (name == "selected") {
        // While building, before the option belongs to a window: no notification.
        selected_ = ParseBool(value);
    } else if (name == "selectedimage") {
        selectedImage_.assign(value);
    } else if (name == "selectedhotimage") {
        selectedHotImage_.assign(value);
    } else {
        CButton::SetAttribute(name, value);
    }
}

bool COption::Activate() {
    if (!IsEnabledInTree() || !IsVisibleInTree()) return false;
    SendNotify("click");
    // A grouped option stays selected when clicked again; a lone one toggles.
    Selected(group_.empty() ? !selected_ : true);
    return true;
}

void COption::Selected(bool selected) {
    CControlHost* host = GetHost();
    {
        CControlHost::StateGuard guard(host);
        selected_ = selected;
        if (selected && !group_.empty() && host != nullptr && host->GetRoot() != nullptr) {
            host->GetRoot()->ForEach([&](CControl& c) {
                auto* other = dynamic_cast<COption*>(&c);
                if (other != nullptr && other != this && other->group_ == group_ && other->selected_) {
                    other->selected_ = false;
                    other->Invalidate();
                }
            });
        }
    }
    Invalidate();
    if (group_.empty() || selected) SendNotify("selectchanged");
}

void COption::PaintStatusImage(IPainter& painter) {
    if (selected_) {
        if (IsHot() && !selectedHotImage_.empty() && DrawImage(painter, selectedHotImage_)) return;
        if (!selectedImage_.empty() && DrawImage(painter, selectedImage_)) return;
    }
    CButton::PaintStatusImage(painter);
}

}  // namespace SkinUI
