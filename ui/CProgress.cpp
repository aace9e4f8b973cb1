#include "ui/CProgress.h"

#include <algorithm>

#include "ui/CControlHost.h"

namespace SkinUI {

CProgress::CProgress() { align_ = TextAlign::ALIGN_CENTER; }

void CProgress::SetAttribute(std::string_view name, std::string_view value) {
    if (name == "min") {
        min_ = ParseInt(value, 0);
    } else if (name == "max") {
        max_ = ParseInt(value, 100);
    } else if (name == "value") {
        value_ = ParseInt(value, 0);
    } else if (name == "hor") {
        horizontal_ = ParseBool(value);
    } else if (name == "foreimage") {
        foreImage_.assign(value);
    } else {
        CLabel::SetAttribute(name, value);
    }
}

bool CProgress::SetValue(int value) {
    {
        CControlHost::StateGuard guard(GetHost());
        if (value < min_ || value > max_ || value == value_) return false;
        value_ = value;
    }
    Invalidate();
    return true;
}

TRect CProgress::FilledRect() const {
    int lo = min_, hi = max_, v = value_;
    if (hi <= lo) return {};
    long long span = hi - lo;
    long long done = std::clamp(v, lo, hi) - lo;
    TRect r = pos_;
    if (horizontal_) {
        r.right = r.left + static_cast<int>(r.Width() * done / span);
    } else {
        r.top = r.bottom - static_cast<int>(r.Height() * done / span);
    }
    return r;
}

void CProgress::PaintStatusImage(IPainter& painter) {
    TRect filled = FilledRect();
    if (foreImage_.empty() || filled.IsEmpty()) return;
    painter.PushClip(filled);
    DrawImage(painter, foreImage_);
    painter.PopClip();
}

}  // namespace SkinUI
