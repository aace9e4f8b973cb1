#include "ui/CLabel.h"

#include "ui/CControlHost.h"
#include "ui/CRenderer.h"

namespace SkinUI {

void CLabel::SetAttribute(std::string_view name, std::string_view value) {
    if (name == "font") {
        font_ = ParseInt(value, -1);
    } else if (name == "textcolor") {
        textColor_ = ParseColor(value).value_or(textColor_);
    } else if (name == "disabledtextcolor") {
        disabledTextColor_ = ParseColor(value).value_or(0);
    } else if (name == "align") {
        if (value == "center") align_ = TextAlign::ALIGN_CENTER;
        else if (value == "right") align_ = TextAlign::ALIGN_RIGHT;
        else if (value == "left") align_ = TextAlign::ALIGN_LEFT;
    } else if (name == "showhtml") {
        showHtml_ = ParseBool(value);
    } else if (name == "multiline") {
        multiline_ = ParseBool(value);
    } else if (name == "inset" || name == "textpadding") {
        textInset_ = ParseRect(value);
    } else {
        CControl::SetAttribute(name, value);
    }
}

TColor CLabel::CurrentTextColor() const {
    if (!IsEnabledInTree() && disabledTextColor_ != 0) return disabledTextColor_;
    return textColor_;
}

void CLabel::LayoutText(ITextMeasurer& measurer) {
    CControl::LayoutText(measurer);
    CControlHost* host = GetHost();
    static const std::vector<TFontInfo> kNoFonts;
    const std::vector<TFontInfo>& fonts = host != nullptr ? host->Fonts() : kNoFonts;
    CTextLayout::TOptions options;
    options.font = font_;
    options.color = CurrentTextColor();
    options.align = align_;
    // Marked-up texts are sentences and paragraphs: they wrap even when not multi-line.
    options.wrap = multiline_ || showHtml_;
    options.vcenter = !multiline_;
    if (host != nullptr && showHtml_) {
        options.linkColor = host->WindowAttributes().linkColor;
        options.linkHoverColor = host->WindowAttributes().linkHoverColor;
        options.hotLink = HotLink();
    }
    auto runs = showHtml_ ? CRichText::Parse(text_) : CRichText::Plain(text_);
    layout_.Layout(runs, TextRect(), options, measurer, fonts);
}

void CLabel::PaintText(IPainter& painter) {
    CControlHost* host = GetHost();
    if (host == nullptr) return;
    CRenderer::DrawText(painter, layout_, host->Fonts(), showHtml_ ? 0 : CurrentTextColor());
}

}  // namespace SkinUI
