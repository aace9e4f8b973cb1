#include "ui/CControlHost.h"

#include <algorithm>

#include "platform/Clock.h"
#include "ui/CCombo.h"
#include "ui/CControl.h"
#include "ui/CLayoutBuilder.h"

namespace SkinUI {

CControlHost::StateGuard::StateGuard(const CControlHost* host) : host_(host) {
    if (host_ != nullptr) host_->stateLock_.lock();
}

CControlHost::StateGuard::~StateGuard() {
    if (host_ != nullptr) host_->stateLock_.unlock();
}

CControlHost::CControlHost(const CSkinPackage* package)
    : package_(package), windowThread_(std::this_thread::get_id()), images_(package) {}

CControlHost::~CControlHost() {
    // Controls report their destruction to the host, so the tree goes while the host is whole.
    root_.reset();
}

void CControlHost::SetDefaultAttributes(std::string_view className, std::string_view list) {
    defaults_[AsciiLowerCopy(className)] = std::string(list);
}

const std::string* CControlHost::GetDefaultAttributes(std::string_view className) const {
    auto it = defaults_.find(AsciiLowerCopy(className));
    return it == defaults_.end() ? nullptr : &it->second;
}

void CControlHost::SetWindowAttribute(std::string_view name, std::string_view value) {
    TWindowAttributes& a = attributes_;
    if (name == "size") {
        a.size = ParseSize(value);
    } else if (name == "caption") {
        a.caption = ParseRect(value);
    } else if (name == "sizebox") {
        a.sizebox = ParseRect(value);
    } else if (name == "roundcorner") {
        a.roundCorner = ParseSize(value);
    } else if (name == "showshadow") {
        a.showShadow = ParseBool(value);
    } else if (name == "shadowsize") {
        a.shadowSize = ParseInt(value);
    } else if (name == "shadowposition") {
        a.shadowPosition = ParseRect(value);
    } else if (name == "shadowdarkness") {
        a.shadowDarkness = ParseInt(value);
    } else if (name == "gdiplustext") {
        a.gdiplusText = ParseBool(value);
    } else if (name == "bktrans") {
        a.bkTrans = ParseBool(value);
    } else if (name == "linkfontcolor") {
        a.linkColor = ParseColor(value).value_or(0);
    } else if (name == "linkhoverfontcolor") {
        a.linkHoverColor = ParseColor(value).value_or(0);
    }
}

bool CControlHost::LoadLayout(std::string_view file, ILayoutBuilderCallback* callback, std::string* error) {
    CLayoutBuilder builder(package_, callback);
    std::unique_ptr<CControl> root = builder.Build(file, this);
    if (!root) {
        if (error != nullptr) *error = builder.LastError();
        return false;
    }
    AttachRoot(std::move(root));
    if (attributes_.size.cx > 0 && attributes_.size.cy > 0) SetClientSize(attributes_.size);
    return true;
}

void CControlHost::AttachRoot(std::unique_ptr<CControl> root) {
    {
        StateGuard guard(this);
        focus_ = nullptr;
        hot_ = nullptr;
        pressed_ = nullptr;
        openCombo_ = nullptr;
        root_ = std::move(root);
        if (root_) root_->SetHost(this, nullptr);
    }
    NeedLayout();
}

CControl* CControlHost::FindControl(std::string_view name) const {
    if (!root_ || name.empty()) return nullptr;
    CControl* found = nullptr;
    root_->ForEach([&](CControl& c) {
        if (found == nullptr && c.GetName() == name) found = &c;
    });
    return found;
}

void CControlHost::SetClientSize(TSize size) {
    {
        StateGuard guard(this);
        if (clientSize_ == size) return;
        clientSize_ = size;
    }
    NeedLayout();
}

void CControlHost::UpdateLayout() {
    StateGuard guard(this);
    bool laidOut = false;
    if (layoutNeeded_.exchange(false) && root_) {
        // 1. Rectangles, top-down from the client area.
        root_->SetPos({0, 0, clientSize_.cx, clientSize_.cy});
        laidOut = true;
        if (CCombo* combo = openCombo_) combo->LayoutDropList(clientSize_);
    }
    // 2. Texts placed in the rectangles, where they or the rectangles changed.
    if ((laidOut || textLayoutNeeded_.exchange(false)) && root_ && measurer_ != nullptr) {
        textLayoutNeeded_ = false;
        // Hidden texts (the licence holders of a never-shown page) wait until they show:
        // showing a control relayouts, which places them then.
        root_->ForEach([&](CControl& c) {
            if ((laidOut || c.IsTextDirty()) && c.IsVisibleInTree()) c.LayoutText(*measurer_);
        });
        if (CCombo* combo = openCombo_) combo->LayoutDropListText(*measurer_);
    }
}

void CControlHost::Paint(IPainter& painter) {
    UpdateLayout();
    StateGuard guard(this);
    if (root_) root_->Paint(painter);
    if (CCombo* combo = openCombo_) combo->PaintDropList(painter);
}

void CControlHost::Invalidate(const TRect& rect) {
    // A control that was never laid out has nothing on screen yet; its layout repaints it.
    if (rect.IsEmpty()) return;
    {
        StateGuard guard(this);
        dirty_ = dirty_.Union(rect);
    }
    WakeBackend();
}

void CControlHost::NeedLayout() {
    layoutNeeded_ = true;
    {
        StateGuard guard(this);
        dirtyAll_ = true;
    }
    WakeBackend();
}

void CControlHost::NeedTextLayout() { textLayoutNeeded_ = true; }

TRect CControlHost::TakeDirtyArea() {
    StateGuard guard(this);
    TRect area = dirtyAll_ ? TRect{0, 0, clientSize_.cx, clientSize_.cy} : dirty_;
    dirty_ = {};
    dirtyAll_ = false;
    return area;
}

bool CControlHost::IsDirty() const {
    StateGuard guard(this);
    return dirtyAll_ || !dirty_.IsEmpty();
}

void CControlHost::WakeBackend() {
    if (sink_ != nullptr) sink_->RequestRepaint();
}

CControl* CControlHost::FindControlAt(TPoint pt) const {
    StateGuard guard(this);
    return root_ ? root_->FindControlAt(pt) : nullptr;
}

void CControlHost::RememberCursor(TPoint pt) {
    // Written on the window thread only; locked because notifications from other threads read it.
    StateGuard guard(this);
    lastCursor_ = pt;
}

void CControlHost::SetHot(CControl* control) {
    if (control == hot_) return;
    CControl* old = hot_.exchange(control);
    if (old != nullptr) {
        TEvent leave;
        leave.type = EventType::EVENT_MOUSE_LEAVE;
        leave.pt = lastCursor_;
        old->DoEvent(leave);
    }
    if (control != nullptr) {
        TEvent enter;
        enter.type = EventType::EVENT_MOUSE_ENTER;
        enter.pt = lastCursor_;
        control->DoEvent(enter);
    }
}

void CControlHost::OnMouseMove(TPoint pt) {
    RememberCursor(pt);
    if (CCombo* combo = openCombo_) {
        combo->SetHotItem(combo->DropItemAt(pt));
        return;
    }
    SetHot(FindControlAt(pt));
    TEvent move;
    move.type = EventType::EVENT_MOUSE_MOVE;
    move.pt = pt;
    if (CControl* pressed = pressed_) {
        pressed->DoEvent(move);
    } else if (CControl* hot = hot_) {
        hot->DoEvent(move);
    }
}

void CControlHost::OnMouseLeave() {
    if (CCombo* combo = openCombo_) combo->SetHotItem(-1);
    if (pressed_ == nullptr) SetHot(nullptr);
}

void CControlHost::OnButtonDown(TPoint pt) {
    RememberCursor(pt);
    if (CCombo* combo = openCombo_) {
        int item = combo->DropItemAt(pt);
        CloseDropList();
        if (item >= 0) combo->SelectItem(item);
        // A press outside the list only closes it.
        return;
    }
    CControl* target = FindControlAt(pt);
    SetHot(target);
    SetFocus(target != nullptr && target->IsFocusable() ? target : nullptr);
    if (target == nullptr) return;
    pressed_ = target;
    TEvent down;
    down.type = EventType::EVENT_BUTTON_DOWN;
    down.pt = pt;
    target->DoEvent(down);
}

void CControlHost::OnButtonUp(TPoint pt) {
    RememberCursor(pt);
    CControl* target = pressed_.exchange(nullptr);
    if (target != nullptr) {
        TEvent up;
        up.type = EventType::EVENT_BUTTON_UP;
        up.pt = pt;
        target->DoEvent(up);
    }
    if (openCombo_ == nullptr) SetHot(FindControlAt(pt));
}

void CControlHost::OnMouseWheel(TPoint pt, int delta) {
    RememberCursor(pt);
    if (openCombo_ != nullptr) return;
    TEvent wheel;
    wheel.type = EventType::EVENT_MOUSE_WHEEL;
    wheel.pt = pt;
    wheel.wheelDelta = delta;
    for (CControl* c = FindControlAt(pt); c != nullptr && !wheel.handled; c = c->GetParent()) c->DoEvent(wheel);
}

bool CControlHost::OnKeyDown(Key key) {
    if (key == Key::KEY_ESCAPE) {
        if (openCombo_ != nullptr) CloseDropList();
        return true;
    }
    if (key == Key::KEY_RETURN) return false;
    CControl* focus = focus_;
    if (focus == nullptr) return false;
    TEvent ev;
    ev.type = EventType::EVENT_KEY_DOWN;
    ev.key = key;
    focus->DoEvent(ev);
    return ev.handled;
}

void CControlHost::OnChar(std::string_view text) {
    CControl* focus = focus_;
    if (focus == nullptr || text.empty()) return;
    TEvent ev;
    ev.type = EventType::EVENT_CHAR;
    ev.text.assign(text);
    focus->DoEvent(ev);
}

HitArea CControlHost::HitTest(TPoint pt, bool maximized) const {
    const int w = clientSize_.cx, h = clientSize_.cy;
    const TRect& box = attributes_.sizebox;
    if (!maximized) {
        bool left = pt.x < box.left, right = pt.x >= w - box.right;
        bool top = pt.y < box.top, bottom = pt.y >= h - box.bottom;
        if (top && left) return HitArea::HIT_TOPLEFT;
        if (top && right) return HitArea::HIT_TOPRIGHT;
        if (bottom && left) return HitArea::HIT_BOTTOMLEFT;
        if (bottom && right) return HitArea::HIT_BOTTOMRIGHT;
        if (left) return HitArea::HIT_LEFT;
        if (right) return HitArea::HIT_RIGHT;
        if (top) return HitArea::HIT_TOP;
        if (bottom) return HitArea::HIT_BOTTOM;
    }
    const TRect& cap = attributes_.caption;
    if (pt.x >= cap.left && pt.x < w - cap.right && pt.y >= cap.top && pt.y < cap.bottom) {
        CControl* c = FindControlAt(pt);
        if (c == nullptr || !c->BlocksCaptionDrag()) return HitArea::HIT_CAPTION;
    }
    return HitArea::HIT_CLIENT;
}

void CControlHost::SetFocus(CControl* control) {
    if (control == focus_) return;
    CControl* old = focus_.exchange(control);
    if (old != nullptr) {
        TEvent kill;
        kill.type = EventType::EVENT_KILL_FOCUS;
        old->DoEvent(kill);
    }
    if (control != nullptr) {
        TEvent set;
        set.type = EventType::EVENT_SET_FOCUS;
        control->DoEvent(set);
    }
}

void CControlHost::OpenDropList(CCombo* combo) {
    openCombo_ = combo;
    if (combo != nullptr) {
        combo->LayoutDropList(clientSize_);
        if (measurer_ != nullptr) combo->LayoutDropListText(*measurer_);
    }
    Invalidate({0, 0, clientSize_.cx, clientSize_.cy});
}

void CControlHost::CloseDropList() {
    if (openCombo_.exchange(nullptr) == nullptr) return;
    Invalidate({0, 0, clientSize_.cx, clientSize_.cy});
}

void CControlHost::AddNotifier(INotifyListener* listener) {
    if (listener != nullptr && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) {
        listeners_.push_back(listener);
    }
}

void CControlHost::RemoveNotifier(INotifyListener* listener) {
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void CControlHost::SendNotify(CControl* sender, std::string_view type, std::intptr_t wParam, std::intptr_t lParam) {
    TNotify msg;
    msg.type.assign(type);
    msg.sender = sender;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = platform::TickCount32();
    {
        StateGuard guard(this);
        msg.cursor = lastCursor_;
        pending_.push_back(std::move(msg));
    }
    if (OnWindowThread()) {
        DeliverPendingNotifications();
    } else {
        WakeBackend();
    }
}

void CControlHost::DeliverPendingNotifications() {
    if (!OnWindowThread()) return;
    for (;;) {
        TNotify msg;
        {
            StateGuard guard(this);
            if (pending_.empty()) return;
            msg = std::move(pending_.front());
            pending_.pop_front();
        }
        // A copy, so a listener may remove itself while being called.
        std::vector<INotifyListener*> listeners = listeners_;
        for (INotifyListener* l : listeners) l->Notify(msg);
    }
}

namespace {

bool IsAtOrUnder(const CControl* candidate, const CControl* ancestor) {
    for (const CControl* c = candidate; c != nullptr; c = c->GetParent()) {
        if (c == ancestor) return true;
    }
    return false;
}

}  // namespace

void CControlHost::ControlHidden(CControl* control) {
    StateGuard guard(this);
    // Dropped quietly: the control may be hidden from another thread, where no event may run.
    if (IsAtOrUnder(focus_, control)) focus_ = nullptr;
    if (IsAtOrUnder(hot_, control)) hot_ = nullptr;
    if (IsAtOrUnder(pressed_, control)) pressed_ = nullptr;
    if (IsAtOrUnder(openCombo_, control)) openCombo_ = nullptr;
}

void CControlHost::ControlGone(CControl* control) {
    StateGuard guard(this);
    if (focus_ == control) focus_ = nullptr;
    if (hot_ == control) hot_ = nullptr;
    if (pressed_ == control) pressed_ = nullptr;
    if (openCombo_ == control) openCombo_ = nullptr;
    // Queued notifications must not reach a listener with a dangling sender.
    std::erase_if(pending_, [control](const TNotify& n) { return n.sender == control; });
}

}  // namespace SkinUI
