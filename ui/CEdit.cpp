#include "ui/CEdit.h"

#include "ui/CControlHost.h"
#include "ui/CRenderer.h"

namespace SkinUI {

namespace {

std::size_t PreviousBoundary(const std::string& t, std::size_t at) {
    if (at == 0) return 0;
    --at;
    while (at > 0 && (static_cast<unsigned char>(t[at]) & 0xC0) == 0x80) --at;
    return at;
}

std::size_t NextBoundary(const std::string& t, std::size_t at) {
    if (at >= t.size()) return t.size();
    return std::min(t.size(), at + Utf8SequenceLength(static_cast<unsigned char>(t[at])));
}

}  // namespace

void CEdit::SetAttribute(std::string_view name, std::string_view value) {
    if (name == "readonly") {
        readOnly_ = ParseBool(value);
    } else if (name == "focusbordercolor") {
        focusBorderColor_ = ParseColor(value).value_or(0);
    } else if (name == "nativebkcolor") {
        nativeBkColor_ = ParseColor(value).value_or(0);
    } else {
        CLabel::SetAttribute(name, value);
    }
}

void CEdit::SelectAll() {
    {
        CControlHost::StateGuard guard(GetHost());
        if (text_.empty()) return;
        allSelected_ = true;
        caret_ = text_.size();
    }
    TextChanged();
}

void CEdit::SetText(std::string_view text) {
    {
        CControlHost::StateGuard guard(GetHost());
        if (text_ == text) return;
        text_.assign(text);
        caret_ = text_.size();
        allSelected_ = false;
    }
    TextChanged();
}

void CEdit::DoEvent(TEvent& event) {
    if (event.type == EventType::EVENT_CHAR && !readOnly_) {
        std::string typed;
        for (char c : event.text) {
            if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) typed.push_back(c);
        }
        if (typed.empty()) return;
        {
            CControlHost::StateGuard guard(GetHost());
            if (allSelected_) {
                text_.clear();
                caret_ = 0;
                allSelected_ = false;
            }
            if (CodePointCount(text_) + CodePointCount(typed) > kMaxCodePoints) return;
            text_.insert(caret_, typed);
            caret_ += typed.size();
        }
        event.handled = true;
        TextChanged();
        return;
    }
    if (event.type == EventType::EVENT_SET_FOCUS) {
        {
            CControlHost::StateGuard guard(GetHost());
            caret_ = text_.size();
        }
        TextChanged();
        return;
    }
    if (event.type == EventType::EVENT_KILL_FOCUS) {
        {
            CControlHost::StateGuard guard(GetHost());
            allSelected_ = false;
        }
        Invalidate();
        return;
    }
    if (event.type == EventType::EVENT_KEY_DOWN) {
        CControlHost::StateGuard guard(GetHost());
        std::size_t before = caret_;
        bool edited = false;
        bool wasSelected = allSelected_;
        if (allSelected_ && !readOnly_ && (event.key == Key::KEY_BACKSPACE || event.key == Key::KEY_DELETE)) {
            text_.clear();
            caret_ = 0;
            allSelected_ = false;
            event.handled = true;
            TextChanged();
            return;
        }
        if (event.key != Key::KEY_OTHER && event.key != Key::KEY_TAB) allSelected_ = false;
        switch (event.key) {
            case Key::KEY_LEFT: caret_ = PreviousBoundary(text_, caret_); break;
            case Key::KEY_RIGHT: caret_ = NextBoundary(text_, caret_); break;
            case Key::KEY_HOME: caret_ = 0; break;
            case Key::KEY_END: caret_ = text_.size(); break;
            case Key::KEY_BACKSPACE:
                if (!readOnly_ && caret_ > 0) {
                    std::size_t from = PreviousBoundary(text_, caret_);
                    text_.erase(from, caret_ - from);
                    caret_ = from;
                    edited = true;
                }
                break;
            case Key::KEY_DELETE:
                if (!readOnly_ && caret_ < text_.size()) {
                    text_.erase(caret_, NextBoundary(text_, caret_) - caret_);
                    edited = true;
                }
                break;
            case Key::KEY_OTHER:
            case Key::KEY_ESCAPE:
            case Key::KEY_RETURN:
            case Key::KEY_TAB:
            case Key::KEY_UP:
            case Key::KEY_DOWN:
                return;
        }
        event.handled = true;
        if (edited || caret_ != before || wasSelected != allSelected_) TextChanged();
        return;
    }
    CLabel::DoEvent(event);
}

void CEdit::LayoutText(ITextMeasurer& measurer) {
    CLabel::LayoutText(measurer);
    CControlHost* host = GetHost();
    static const std::vector<TFontInfo> kNoFonts;
    const TFontInfo& font = CTextLayout::ResolveFont(host != nullptr ? host->Fonts() : kNoFonts, font_);
    TRect box = TextRect();
    int lineHeight = measurer.LineHeight(font);
    int x = box.left + measurer.TextWidth(font, std::string_view(text_).substr(0, std::min(caret_, text_.size())));
    int top = box.top + (box.Height() - lineHeight) / 2;
    caretRect_ = {x, top, x + 1, top + lineHeight};
    int textLeft = box.left;
    if (!layout_.Fragments().empty()) textLeft = layout_.Fragments().front().box.left;
    selectionRect_ = {textLeft, top, textLeft + measurer.TextWidth(font, text_), top + lineHeight};
}

void CEdit::PaintBorder(IPainter& painter) {
    if (IsFocused() && focusBorderColor_ != 0) {
        TRect widths = borderSize_;
        if ((widths.left | widths.top | widths.right | widths.bottom) == 0) widths = {1, 1, 1, 1};
        painter.DrawBorder(pos_, widths, focusBorderColor_);
        return;
    }
    CLabel::PaintBorder(painter);
}

void CEdit::PaintText(IPainter& painter) {
    if (nativeBkColor_ != 0) painter.FillRect(pos_, nativeBkColor_);
    if (allSelected_ && IsFocused()) painter.FillRect(selectionRect_, 0xFFB5D5FF);
    CLabel::PaintText(painter);
    if (IsFocused() && !readOnly_) painter.FillRect(caretRect_, CurrentTextColor());
}

}  // namespace SkinUI
