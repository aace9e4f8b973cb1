#include "ui/CCombo.h"

#include <algorithm>
#include <string>

#include "ui/CControlHost.h"
#include "ui/CListLabelElement.h"
#include "ui/CRenderer.h"

namespace SkinUI {

CCombo::CCombo() : CContainer(Orientation::ORIENT_VERTICAL) {}

CControl* CCombo::Add(std::unique_ptr<CControl> child) {
    CControl* raw = CContainer::Add(std::move(child));
    auto* item = dynamic_cast<CListLabelElement*>(raw);
    if (item != nullptr && item->IsSelected() && curSel_ < 0) curSel_ = GetItemIndex(item);
    return raw;
}

void CCombo::SetAttribute(std::string_view name, std::string_view value) {
    auto color = [&](TColor& target) { target = ParseColor(value).value_or(target); };
    if (name == "dropboxsize") dropBoxSize_ = ParseSize(value);
    else if (name == "textpadding") textPadding_ = ParseRect(value);
    else if (name == "font") font_ = ParseInt(value, -1);
    else if (name == "itemfont") itemFont_ = ParseInt(value, -1);
    else if (name == "textcolor") color(textColor_);
    else if (name == "itemtextcolor") color(itemTextColor_);
    else if (name == "itembkcolor") color(itemBkColor_);
    else if (name == "itemselectedtextcolor") color(itemSelectedTextColor_);
    else if (name == "itemselectedbkcolor") color(itemSelectedBkColor_);
    else if (name == "itemhottextcolor") color(itemHotTextColor_);
    else if (name == "itemhotbkcolor") color(itemHotBkColor_);
    else if (name == "itemdisabledtextcolor") color(itemDisabledTextColor_);
    else if (name == "itemdisabledbkcolor") color(itemDisabledBkColor_);
    else if (name == "normalimage") normalImage_.assign(value);
    else if (name == "hotimage") hotImage_.assign(value);
    else if (name == "pushedimage") pushedImage_.assign(value);
    else if (name == "disabledimage") disabledImage_.assign(value);
    else CContainer::SetAttribute(name, value);
}

CListLabelElement* CCombo::GetListItem(int index) const { return dynamic_cast<CListLabelElement*>(GetItemAt(index)); }

bool CCombo::SelectItem(int index) {
    int old;
    {
        CControlHost::StateGuard guard(GetHost());
        if (GetListItem(index) == nullptr) return false;
        if (index == curSel_) return true;
        old = curSel_;
        curSel_ = index;
        for (int i = 0; i < GetCount(); ++i) {
            if (auto* item = GetListItem(i)) item->SetSelectedState(i == index);
        }
    }
    TextChanged();
    SendNotify("itemselect", index, old);
    return true;
}

void CCombo::SetPos(const TRect& rect) {
    // Items are placed only when the list opens, not inside the combo's own rectangle.
    pos_ = rect;
}

CControl* CCombo::FindControlAt(TPoint p) {
    if (!visible_ || !pos_.Contains(p)) return nullptr;
    return this;
}

void CCombo::DoEvent(TEvent& event) {
    if (event.type == EventType::EVENT_BUTTON_UP) {
        Invalidate();
        if (pos_.Contains(event.pt) && IsEnabledInTree() && IsVisibleInTree() && GetHost() != nullptr) {
            SendNotify("click");
            GetHost()->OpenDropList(this);
        }
        return;
    }
    if (event.type == EventType::EVENT_MOUSE_WHEEL) {
        CControl::DoEvent(event);
        return;
    }
    CContainer::DoEvent(event);
}

void CCombo::LayoutText(ITextMeasurer& measurer) {
    CControl::LayoutText(measurer);
    CControlHost* host = GetHost();
    static const std::vector<TFontInfo> kNoFonts;
    CTextLayout::TOptions options;
    options.font = font_;
    options.color = textColor_;
    CListLabelElement* item = GetListItem(curSel_);
    auto runs = CRichText::Plain(item != nullptr ? item->GetText() : std::string());
    textLayout_.Layout(runs, pos_.Deflated(textPadding_), options, measurer, host != nullptr ? host->Fonts() : kNoFonts);
}

// The items are painted by PaintDropList when the list is open, never inside the combo.
void CCombo::Paint(IPainter& painter) { CControl::Paint(painter); }

void CCombo::PaintStatusImage(IPainter& painter) {
    const std::string* image = &normalImage_;
    if (!IsEnabledInTree() && !disabledImage_.empty()) image = &disabledImage_;
    else if ((IsPressed() || (GetHost() != nullptr && GetHost()->GetOpenCombo() == this)) && !pushedImage_.empty()) image = &pushedImage_;
    else if (IsHot() && !hotImage_.empty()) image = &hotImage_;
    if (!image->empty() && !DrawImage(painter, *image) && image != &normalImage_ && !normalImage_.empty()) {
        DrawImage(painter, normalImage_);
    }
}

void CCombo::PaintText(IPainter& painter) {
    if (GetHost() != nullptr) CRenderer::DrawText(painter, textLayout_, GetHost()->Fonts());
}

void CCombo::LayoutDropList(TSize client) {
    int width = dropBoxSize_.cx > 0 ? dropBoxSize_.cx : pos_.Width();
    int content = 0;
    for (auto& c : children_) {
        if (c->IsVisible()) content += c->GetFixedHeight() >= 0 ? c->GetFixedHeight() : CListLabelElement::kDefaultHeight;
    }
    int height = std::min(content, dropBoxSize_.cy > 0 ? dropBoxSize_.cy : content);
    TRect below{pos_.left, pos_.bottom, pos_.left + width, pos_.bottom + height};
    dropRect_ = (below.bottom > client.cy && pos_.top - height >= 0)
                    ? TRect{pos_.left, pos_.top - height, pos_.left + width, pos_.top}
                    : below;
    int y = dropRect_.top;
    for (auto& c : children_) {
        if (!c->IsVisible()) continue;
        int h = c->GetFixedHeight() >= 0 ? c->GetFixedHeight() : CListLabelElement::kDefaultHeight;
        c->SetPos({dropRect_.left, y, dropRect_.right, y + h});
        y += h;
    }
}

void CCombo::LayoutDropListText(ITextMeasurer& measurer) {
    for (int i = 0; i < GetCount(); ++i) {
        CListLabelElement* item = GetListItem(i);
        if (item == nullptr || !item->IsVisible()) continue;
        if (!item->IsEnabled()) item->SetColors(itemDisabledTextColor_, itemDisabledBkColor_);
        else if (i == curSel_) item->SetColors(itemSelectedTextColor_, itemSelectedBkColor_);
        else if (i == hotItem_) item->SetColors(itemHotTextColor_, itemHotBkColor_);
        else item->SetColors(itemTextColor_, itemBkColor_);
        if (itemFont_ >= 0) item->SetAttribute("font", std::to_string(itemFont_));
        item->LayoutText(measurer);
    }
}

int CCombo::DropItemAt(TPoint p) const {
    if (!dropRect_.Contains(p)) return -1;
    for (int i = 0; i < GetCount(); ++i) {
        CControl* c = GetItemAt(i);
        if (c->IsVisible() && c->IsEnabled() && c->GetPos().Contains(p)) return i;
    }
    return -1;
}

void CCombo::SetHotItem(int index) {
    if (index == hotItem_) return;
    hotItem_ = index;
    if (GetHost() != nullptr) {
        GetHost()->Invalidate(dropRect_);
        if (GetHost()->GetTextMeasurer() != nullptr) LayoutDropListText(*GetHost()->GetTextMeasurer());
    }
}

void CCombo::PaintDropList(IPainter& painter) {
    if (dropRect_.IsEmpty()) return;
    painter.PushClip(dropRect_);
    painter.FillRect(dropRect_, itemBkColor_);
    for (auto& c : children_) {
        if (c->IsVisible()) c->Paint(painter);
    }
    painter.DrawBorder(dropRect_, {1, 1, 1, 1}, 0xFF999999);
    painter.PopClip();
}

}  // namespace SkinUI
