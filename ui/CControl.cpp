#include "ui/CControl.h"

#include "ui/CControlHost.h"
#include "ui/CRenderer.h"

namespace SkinUI {

CControl::CControl() = default;

CControl::~CControl() {
    if (host_ != nullptr) host_->ControlGone(this);
}

void CControl::SetHost(CControlHost* host, CControl* parent) {
    host_ = host;
    parent_ = parent;
}

void CControl::ForEach(const std::function<void(CControl&)>& visit) { visit(*this); }

CControl* CControl::FindSubControl(std::string_view name) {
    CControl* found = nullptr;
    ForEach([&](CControl& c) {
        if (found == nullptr && !c.name_.empty() && AsciiEqualNoCase(c.name_, name)) found = &c;
    });
    return found;
}

CControl* CControl::FindControlAt(TPoint p) {
    if (!visible_ || !pos_.Contains(p)) return nullptr;
    return this;
}

bool CControl::IsVisibleInTree() const {
    for (const CControl* c = this; c != nullptr; c = c->parent_) {
        if (!c->visible_) return false;
    }
    return true;
}

bool CControl::IsEnabledInTree() const {
    for (const CControl* c = this; c != nullptr; c = c->parent_) {
        if (!c->enabled_) return false;
    }
    return true;
}

void CControl::SetAttribute(std::string_view name, std::string_view value) {
    if (name == "name") {
        name_.assign(value);
    } else if (name == "text") {
        text_.assign(value);
    } else if (name == "tooltip") {
        tooltip_.assign(value);
    } else if (name == "width") {
        fixedWidth_ = ParseInt(value, -1);
    } else if (name == "height") {
        fixedHeight_ = ParseInt(value, -1);
    } else if (name == "padding") {
        padding_ = ParseRect(value);
    } else if (name == "visible") {
        visible_ = ParseBool(value);
    } else if (name == "enabled") {
        enabled_ = ParseBool(value);
    } else if (name == "bkcolor") {
        bkColor_ = ParseColor(value).value_or(0);
    } else if (name == "bkimage") {
        bkImage_.assign(value);
    } else if (name == "bordercolor") {
        borderColor_ = ParseColor(value).value_or(0);
    } else if (name == "bordersize") {
        TRect r = ParseRect(value);
        if (value.find(',') == std::string_view::npos) r = {r.left, r.left, r.left, r.left};
        borderSize_ = r;
    }
}

void CControl::ApplyAttributeList(std::string_view list) {
    std::size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && (list[i] == ' ' || list[i] == '\t' || list[i] == '\r' || list[i] == '\n')) ++i;
        std::size_t nameStart = i;
        while (i < list.size() && list[i] != '=' && list[i] != ' ') ++i;
        std::string_view attr = list.substr(nameStart, i - nameStart);
        while (i < list.size() && list[i] == ' ') ++i;
        if (i >= list.size() || list[i] != '=') break;
        ++i;
        while (i < list.size() && list[i] == ' ') ++i;
        if (i >= list.size() || list[i] != '"') break;
        std::size_t end = list.find('"', i + 1);
        if (end == std::string_view::npos) break;
        if (!attr.empty()) SetAttribute(attr, list.substr(i + 1, end - i - 1));
        i = end + 1;
    }
}

std::string CControl::GetText() const {
    CControlHost::StateGuard guard(host_);
    return text_;
}

void CControl::SetText(std::string_view text) {
    {
        CControlHost::StateGuard guard(host_);
        if (text_ == text) return;
        text_.assign(text);
    }
    TextChanged();
}

void CControl::TextChanged() {
    textDirty_ = true;
    if (host_ != nullptr) host_->NeedTextLayout();
    Invalidate();
}

void CControl::SetPos(const TRect& rect) { pos_ = rect; }

void CControl::SetFixedWidth(int width) {
    {
        CControlHost::StateGuard guard(host_);
        if (fixedWidth_ == width) return;
        fixedWidth_ = width;
    }
    NeedLayout();
}

void CControl::SetFixedHeight(int height) {
    {
        CControlHost::StateGuard guard(host_);
        if (fixedHeight_ == height) return;
        fixedHeight_ = height;
    }
    NeedLayout();
}

TSize CControl::EstimateSize(TSize) const { return {fixedWidth_, fixedHeight_}; }

void CControl::SetVisible(bool visible) {
    {
        CControlHost::StateGuard guard(host_);
        if (visible_ == visible) return;
        visible_ = visible;
        if (!visible && host_ != nullptr) host_->ControlHidden(this);
    }
    NeedLayout();
}

void CControl::SetEnabled(bool enabled) {
    {
        CControlHost::StateGuard guard(host_);
        if (enabled_ == enabled) return;
        enabled_ = enabled;
        if (!enabled && host_ != nullptr) host_->ControlHidden(this);
    }
    // The text colour may follow the state.
    TextChanged();
}

bool CControl::IsFocused() const { return host_ != nullptr && host_->GetFocus() == this; }
bool CControl::IsHot() const { return host_ != nullptr && host_->GetHot() == this; }
bool CControl::IsPressed() const { return host_ != nullptr && host_->GetPressed() == this; }

std::string CControl::GetBkImage() const {
    CControlHost::StateGuard guard(host_);
    return bkImage_;
}

void CControl::SetBkImage(std::string_view reference) {
    {
        CControlHost::StateGuard guard(host_);
        if (bkImage_ == reference) return;
        bkImage_.assign(reference);
    }
    Invalidate();
}

void CControl::LayoutText(ITextMeasurer&) { textDirty_ = false; }

void CControl::Paint(IPainter& painter) {
    if (!visible_ || pos_.IsEmpty()) return;
    painter.PushClip(pos_);
    PaintBkColor(painter);
    PaintBkImage(painter);
    PaintStatusImage(painter);
    PaintText(painter);
    PaintBorder(painter);
    painter.PopClip();
}

void CControl::DoEvent(TEvent& event) {
    switch (event.type) {
        case EventType::EVENT_MOUSE_ENTER:
        case EventType::EVENT_MOUSE_LEAVE:
        case EventType::EVENT_BUTTON_DOWN:
        case EventType::EVENT_BUTTON_UP:
        case EventType::EVENT_SET_FOCUS:
        case EventType::EVENT_KILL_FOCUS:
            Invalidate();
            break;
        case EventType::EVENT_MOUSE_MOVE:
        case EventType::EVENT_MOUSE_WHEEL:
        case EventType::EVENT_KEY_DOWN:
        case EventType::EVENT_CHAR:
            break;
    }
}

void CControl::Invalidate() {
    if (host_ != nullptr) host_->Invalidate(pos_);
}

void CControl::NeedLayout() {
    if (host_ != nullptr) host_->NeedLayout();
}

void CControl::PaintBkColor(IPainter& painter) {
    if (bkColor_ != 0) painter.FillRect(pos_, bkColor_);
}

void CControl::PaintBkImage(IPainter& painter) {
    if (!bkImage_.empty()) DrawImage(painter, bkImage_);
}

void CControl::PaintBorder(IPainter& painter) {
    if (borderColor_ != 0 && (borderSize_.left | borderSize_.top | borderSize_.right | borderSize_.bottom) != 0) {
        painter.DrawBorder(pos_, borderSize_, borderColor_);
    }
}

bool CControl::DrawImage(IPainter& painter, std::string_view reference) {
    if (host_ == nullptr) return false;
    return CRenderer::DrawImage(painter, host_->Images(), pos_, reference);
}

void CControl::SendNotify(std::string_view type, std::intptr_t wParam, std::intptr_t lParam) {
    if (host_ != nullptr) host_->SendNotify(this, type, wParam, lParam);
}

}  // namespace SkinUI
