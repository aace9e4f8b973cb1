#include "ui/CTabLayout.h"

#include "ui/CControlHost.h"

namespace SkinUI {

CTabLayout::CTabLayout() : CContainer(Orientation::ORIENT_STACK) {}

CControl* CTabLayout::Add(std::unique_ptr<CControl> child) {
    if (!child) return nullptr;
    // Pages arrive after `selectedid` was read, so each one learns at once whether it shows.
    child->SetVisible(GetCount() == curSel_);
    return CContainer::Add(std::move(child));
}

void CTabLayout::SetAttribute(std::string_view name, std::string_view value) {
    if (name == "selectedid") {
        curSel_ = ParseInt(value, 0);
        for (int i = 0; i < GetCount(); ++i) GetItemAt(i)->SetVisible(i == curSel_);
    } else {
        CContainer::SetAttribute(name, value);
    }
}

bool CTabLayout::SelectItem(int index) {
    int old;
    {
        CControlHost::StateGuard guard(GetHost());
        if (index < 0 || index >= GetCount()) return false;
        if (index == curSel_) return true;
        old = curSel_;
        curSel_ = index;
        for (int i = 0; i < GetCount(); ++i) GetItemAt(i)->SetVisible(i == index);
    }
    NeedLayout();
    SendNotify("tabselect", index, old);
    return true;
}

}  // namespace SkinUI
