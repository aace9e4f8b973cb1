#include "ui/CContainer.h"

#include <algorithm>

#include "ui/CControlHost.h"

namespace SkinUI {

CContainer::~CContainer() {
    // Children first, while this object still is a container.
    children_.clear();
}

CControl* CContainer::Add(std::unique_ptr<CControl> child) {
    if (!child) return nullptr;
    CControl* raw = child.get();
    raw->SetHost(GetHost(), this);
    {
        CControlHost::StateGuard guard(GetHost());
        children_.push_back(std::move(child));
    }
    NeedLayout();
    return raw;
}

CControl* CContainer::GetItemAt(int index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return children_[static_cast<std::size_t>(index)].get();
}

int CContainer::GetItemIndex(const CControl* child) const {
    for (std::size_t i = 0; i < children_.size(); ++i) {
        if (children_[i].get() == child) return static_cast<int>(i);
    }
    return -1;
}

void CContainer::SetHost(CControlHost* host, CControl* parent) {
    CControl::SetHost(host, parent);
    for (auto& c : children_) c->SetHost(host, this);
    if (vscroll_ && host != nullptr && orientation_ == Orientation::ORIENT_VERTICAL) {
        // The bar takes its look from the window's "VScrollBar" default.
        if (!vbar_) {
            vbar_ = std::make_unique<CScrollBar>(*this);
            if (const std::string* look = host->GetDefaultAttributes("VScrollBar")) vbar_->ApplyAttributeList(*look);
        }
        vbar_->SetHost(host, this);
    }
}

void CContainer::ForEach(const std::function<void(CControl&)>& visit) {
    visit(*this);
    for (auto& c : children_) c->ForEach(visit);
}

CControl* CContainer::FindControlAt(TPoint p) {
    if (!visible_ || !pos_.Contains(p)) return nullptr;
    if (vbar_ && scrollRange_ > 0 && vbar_->GetPos().Contains(p)) return vbar_.get();
    // Later children paint over earlier ones, so they are asked first.
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        if (CControl* hit = (*it)->FindControlAt(p)) return hit;
    }
    return this;
}

void CContainer::SetAttribute(std::string_view name, std::string_view value) {
    if (name == "inset") {
        inset_ = ParseRect(value);
    } else if (name == "childpadding") {
        childPadding_ = ParseInt(value);
    } else if (name == "vscrollbar") {
        vscroll_ = ParseBool(value);
    } else {
        CControl::SetAttribute(name, value);
    }
}

void CContainer::SetPos(const TRect& rect) {
    pos_ = rect;
    TRect inner = rect.Deflated(inset_);
    if (inner.right < inner.left) inner.right = inner.left;
    if (inner.bottom < inner.top) inner.bottom = inner.top;
    LayoutChildren(inner);
}

void CContainer::LayoutChildren(const TRect& inner) {
    const bool vertical = orientation_ == Orientation::ORIENT_VERTICAL;
    if (orientation_ == Orientation::ORIENT_STACK) {
        for (auto& c : children_) {
            const TRect& pad = c->GetPadding();
            TRect r = inner.Deflated(pad);
            TSize want = c->EstimateSize({r.Width(), r.Height()});
            if (want.cx >= 0) r.right = r.left + want.cx;
            if (want.cy >= 0) r.bottom = r.top + want.cy;
            c->SetPos(r);
        }
        return;
    }

    const int mainSize = vertical ? inner.Height() : inner.Width();
    const int crossSize = vertical ? inner.Width() : inner.Height();

    // 1. Measure: fixed sizes and paddings along the axis, and how many children share the rest.
    int fixedTotal = 0;
    int sharing = 0;
    int visibleCount = 0;
    for (auto& c : children_) {
        if (!c->IsVisible()) continue;
        ++visibleCount;
        const TRect& pad = c->GetPadding();
        fixedTotal += vertical ? pad.top + pad.bottom : pad.left + pad.right;
        TSize want = c->EstimateSize({inner.Width(), inner.Height()});
        int along = vertical ? want.cy : want.cx;
        if (along >= 0) {
            fixedTotal += along;
        } else {
            ++sharing;
        }
    }
    if (visibleCount > 1) fixedTotal += childPadding_ * (visibleCount - 1);
    // A scrolling container gives sharing children nothing extra: its content may be taller.
    int remaining = std::max(0, mainSize - fixedTotal);
    int share = sharing > 0 ? remaining / sharing : 0;
    int leftover = sharing > 0 ? remaining - share * sharing : 0;

    // 2. Place the children one after another; the last sharing child takes the odd pixels.
    int cursor = 0;
    int shared = 0;
    for (auto& c : children_) {
        if (!c->IsVisible()) continue;
        const TRect& pad = c->GetPadding();
        TSize want = c->EstimateSize({inner.Width(), inner.Height()});
        int along = vertical ? want.cy : want.cx;
        if (along < 0) {
            along = share + (++shared == sharing ? leftover : 0);
        }
        int crossPadBefore = vertical ? pad.left : pad.top;
        int crossPadAfter = vertical ? pad.right : pad.bottom;
        int cross = vertical ? want.cx : want.cy;
        if (cross < 0) cross = std::max(0, crossSize - crossPadBefore - crossPadAfter);
        TRect r;
        if (vertical) {
            int top = inner.top + cursor + pad.top - scrollPos_;
            r = {inner.left + pad.left, top, inner.left + pad.left + cross, top + along};
            cursor += pad.top + along + pad.bottom + childPadding_;
        } else {
            int left = inner.left + cursor + pad.left;
            r = {left, inner.top + pad.top, left + along, inner.top + pad.top + cross};
            cursor += pad.left + along + pad.right + childPadding_;
        }
        c->SetPos(r);
    }
    int content = visibleCount > 0 ? cursor - childPadding_ : 0;
    scrollRange_ = (vertical && vscroll_) ? std::max(0, content - mainSize) : 0;
    if (scrollPos_ > scrollRange_) {
        // The content shrank under the scroll position: place again from the clamped one.
        scrollPos_ = scrollRange_;
        LayoutChildren(inner);
        return;
    }
    if (vbar_) {
        // Along the right edge, over the content's right inset.
        vbar_->SetPos(scrollRange_ > 0 ? TRect{pos_.right - vbar_->Width(), inner.top, pos_.right, inner.bottom}
                                       : TRect{});
    }
}

void CContainer::SetScrollPos(int pos) {
    pos = std::clamp(pos, 0, scrollRange_);
    if (pos == scrollPos_) return;
    scrollPos_ = pos;
    NeedLayout();
}

void CContainer::Paint(IPainter& painter) {
    if (!visible_ || pos_.IsEmpty()) return;
    painter.PushClip(pos_);
    PaintBkColor(painter);
    PaintBkImage(painter);
    PaintStatusImage(painter);
    PaintText(painter);
    for (auto& c : children_) {
        if (c->IsVisible() && !c->GetPos().Intersect(pos_).IsEmpty()) c->Paint(painter);
    }
    if (vbar_ && scrollRange_ > 0) vbar_->Paint(painter);
    PaintBorder(painter);
    painter.PopClip();
}

void CContainer::DoEvent(TEvent& event) {
    if (event.type == EventType::EVENT_MOUSE_WHEEL && scrollRange_ > 0) {
        SetScrollPos(scrollPos_ - (event.wheelDelta > 0 ? kWheelStep : -kWheelStep));
        event.handled = true;
        return;
    }
    CControl::DoEvent(event);
}

}  // namespace SkinUI
