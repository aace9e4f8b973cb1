#include "ui/CScrollBar.h"

#include <algorithm>

#include "ui/CContainer.h"
#include "ui/CControlHost.h"
#include "ui/CRenderer.h"

namespace SkinUI {

void CScrollBar::SetAttribute(std::string_view name, std::string_view value) {
    if (name == "bknormalimage") {
        railImage_.assign(value);
    } else if (name == "thumbnormalimage") {
        thumbImage_.assign(value);
    } else if (name == "thumbhotimage") {
        thumbHotImage_.assign(value);
    } else if (name == "thumbpushedimage") {
        thumbPushedImage_.assign(value);
    } else if (name == "width") {
        fixedWidth_ = ParseInt(value, -1);
    }
    // Arrow buttons are not shown (the skin hides them); their attributes change nothing.
}

TRect CScrollBar::ThumbRect() const {
    const int range = owner_.GetScrollRange();
    const int track = pos_.Height();
    if (range <= 0 || track <= 0) return {};
    const int content = track + range;
    int thumb = static_cast<int>(static_cast<long long>(track) * track / content);
    thumb = std::min(track, std::max(kMinThumb, thumb));
    int top = pos_.top + static_cast<int>(static_cast<long long>(track - thumb) * owner_.GetScrollPos() / range);
    return {pos_.left, top, pos_.right, top + thumb};
}

void CScrollBar::DoEvent(TEvent& event) {
    TRect thumb = ThumbRect();
    switch (event.type) {
        case EventType::EVENT_BUTTON_DOWN:
            if (thumb.Contains(event.pt)) {
                dragging_ = true;
                grabOffset_ = event.pt.y - thumb.top;
            } else if (!thumb.IsEmpty()) {
                int page = std::max(1, owner_.GetPos().Height());
                owner_.SetScrollPos(owner_.GetScrollPos() + (event.pt.y < thumb.top ? -page : page));
            }
            Invalidate();
            return;
        case EventType::EVENT_MOUSE_MOVE:
            if (dragging_ && !thumb.IsEmpty()) {
                int free = pos_.Height() - thumb.Height();
                int top = std::clamp(event.pt.y - grabOffset_ - pos_.top, 0, std::max(0, free));
                int range = owner_.GetScrollRange();
                owner_.SetScrollPos(free > 0 ? static_cast<int>(static_cast<long long>(top) * range / free) : 0);
                Invalidate();
            }
            return;
        case EventType::EVENT_BUTTON_UP:
            dragging_ = false;
            Invalidate();
            return;
        default:
            CControl::DoEvent(event);
    }
}

bool CScrollBar::DrawPart(IPainter& painter, const std::string& reference, const TRect& rect) {
    if (reference.empty() || GetHost() == nullptr) return false;
    return CRenderer::DrawImage(painter, GetHost()->Images(), rect, reference);
}

void CScrollBar::PaintStatusImage(IPainter& painter) {
    TRect thumb = ThumbRect();
    if (thumb.IsEmpty()) return;
    DrawPart(painter, railImage_, pos_);
    const std::string* image = &thumbImage_;
    if (dragging_ && !thumbPushedImage_.empty()) image = &thumbPushedImage_;
    else if (IsHot() && !thumbHotImage_.empty()) image = &thumbHotImage_;
    if (!DrawPart(painter, *image, thumb)) painter.FillRect(thumb, 0x80808080);
}

}  // namespace SkinUI
