#include "src/dialogs/SlideTransition.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "src/language/LanguageTable.h"
#include "platform/ProcessLogger.h"
#include "ui/CControl.h"
#include "ui/CControlHost.h"
#include "ui/CImage.h"
#include "ui/CRenderer.h"
#include "ui/x11/CPangoTextMeasurer.h"
#include "ui/x11/CSkinWindow.h"
#include "ui/x11/CWindowSurface.h"

using SkinUI::CImage;
using SkinUI::IPainter;
using SkinUI::TRect;

namespace {

constexpr int W = SlideTransition::kWidth;
constexpr int H = SlideTransition::kHeight;
// 11 points at 96 dots per inch.
constexpr int kCaptionPixels = 15;
constexpr SkinUI::TColor kCaptionLight = 0xFFFFFFFF;
constexpr SkinUI::TColor kCaptionDark = 0xFF4A4A4A;
constexpr int kLightCaptionProduct = 10;
constexpr TRect kCaptionBox{30, 40, 30 + W - 60, 40 + 100};
constexpr TRect kExtraCaptionBox{194, 40, 194 + 178, 40 + 65};
// Caption labels looked for; far more than a strip can hold.
constexpr int kMaxCaptionLabels = 100;

std::string PictureName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "skin\\anima\\%d.png", i);
    return name;
}

// Splits text into lines no wider than `width`: at its line breaks, then between words,
// and inside a word (by character) when the word alone is too wide, as text without
// blanks (Chinese, Japanese) needs.
std::vector<std::string> WrapLines(SkinUI::ITextMeasurer& measurer, const SkinUI::TFontInfo& font,
                                   const std::string& text, int width) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = std::min(text.find('\n', start), text.size());
        std::string line;
        std::size_t i = start;
        while (i < end) {
            if (text[i] == ' ') {
                ++i;
                continue;
            }
            std::size_t j = std::min(text.find(' ', i), end);
            std::string word = text.substr(i, j - i);
            i = j;
            std::string candidate = line.empty() ? word : line + " " + word;
            if (measurer.TextWidth(font, candidate) <= width) {
                line = candidate;
                continue;
            }
            if (!line.empty()) lines.push_back(std::move(line));
            line.clear();
            if (measurer.TextWidth(font, word) <= width) {
                line = word;
                continue;
            }
            for (std::size_t k = 0; k < word.size();) {
                std::size_t length = SkinUI::Utf8SequenceLength(static_cast<unsigned char>(word[k]));
                std::string glyph = word.substr(k, length);
                k += length;
                if (!line.empty() && measurer.TextWidth(font, line + glyph) > width) {
                    lines.push_back(std::move(line));
                    line.clear();
                }
                line += glyph;
            }
        }
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// Draws wrapped text centred horizontally in `box`; vertically centred or from the top.
void DrawCentred(IPainter& painter, SkinUI::CPangoTextMeasurer& measurer, const SkinUI::TFontInfo& font,
                 SkinUI::TColor color, const std::string& text, const TRect& box, bool middle) {
    std::vector<std::string> lines = WrapLines(measurer, font, text, box.Width());
    int lineHeight = measurer.LineHeight(font);
    int top = box.top;
    if (middle) top += (box.Height() - lineHeight * static_cast<int>(lines.size())) / 2;
    painter.PushClip(box);
    for (const std::string& line : lines) {
        int left = box.left + (box.Width() - measurer.TextWidth(font, line)) / 2;
        painter.DrawText({left, top, left + measurer.TextWidth(font, line) + 1, top + lineHeight}, line, font, color,
                         false);
        top += lineHeight;
    }
    painter.PopClip();
}

// A picture scaled to one cell with its captions drawn on it.
std::shared_ptr<CImage> CaptionedPicture(const CImage& picture, const std::string& caption,
                                         const std::string& extraCaption, const TSlideCaptionStyle& style) {
    SkinUI::CWindowSurface surface;
    if (!surface.Resize({W, H})) return nullptr;
    surface.SetLook(true, {});
    SkinUI::CPangoTextMeasurer measurer;
    measurer.SetLanguage(SkinUI::LanguageTagForIndex(style.languageIndex));
    SkinUI::TColor color = style.softwareId == kLightCaptionProduct ? kCaptionLight : kCaptionDark;
    SkinUI::TFontInfo font;
    font.name = FontForLanguage(style.languageIndex);
    font.size = kCaptionPixels;
    surface.PaintDirect(measurer, {0, 0, W, H}, [&](IPainter& painter) {
        painter.DrawImage(picture, {0, 0, picture.Width(), picture.Height()}, {0, 0, W, H}, {});
        if (!caption.empty()) {
            font.bold = true;
            DrawCentred(painter, measurer, font, color, SlideTransition::CaptionLines(caption), kCaptionBox, false);
        }
        if (!extraCaption.empty()) {
            font.bold = false;
            DrawCentred(painter, measurer, font, color, extraCaption, kExtraCaptionBox, true);
        }
    });
    auto image = std::make_shared<CImage>(W, H);
    for (int y = 0; y < H; ++y) {
        std::memcpy(image->Data() + static_cast<std::size_t>(y) * W, surface.Data() + static_cast<std::size_t>(y) * surface.Stride(),
                    static_cast<std::size_t>(W) * 4);
    }
    return image;
}

// Copies a cell-sized picture into the strip at `x`; parts beyond the strip are dropped.
void PasteInto(CImage& strip, const CImage& cell, int x) {
    if (x < 0 || x >= strip.Width()) return;
    int width = std::min(cell.Width(), strip.Width() - x);
    int height = std::min(cell.Height(), strip.Height());
    for (int y = 0; y < height; ++y) {
        std::memcpy(strip.Data() + static_cast<std::size_t>(y) * strip.Width() + x,
                    cell.Data() + static_cast<std::size_t>(y) * cell.Width(), static_cast<std::size_t>(width) * 4);
    }
}

}  // namespace

SlideTransition::SlideTransition(SkinUI::CSkinWindow& window, const TRect& area, bool enabled, int count,
                                 TSlideCaptionStyle style, std::vector<SkinUI::CControl*> dots)
    : window_(window),
      area_(area),
      enabled_(enabled),
      count_(std::clamp(count, 0, kMaxSlides)),
      style_(style),
      dots_(std::move(dots)) {}

std::string SlideTransition::FrameName(int code, int step) {
    char name[16];
    std::snprintf(name, sizeof name, "%02d%02d", code, step);
    return name;
}

bool SlideTransition::Offsets(int from, int to, int count, int& start, int& end) {
    switch (from * 10 + to) {
        case 1: start = 2 * W; end = 3 * W; return true;
        case 2: start = 2 * W; end = W; return true;
        case 10: start = 0; end = 2 * W; return true;
        case 12: start = 0; end = W; return true;
        case 20: start = W; end = 2 * W; return true;
        case 21: start = W; end = count == 2 ? 2 * W : 0; return true;
        default: return false;
    }
}

int SlideTransition::StepOffset(int start, int end, int step) {
    if (start < end) return start + (end - start) / kSteps * step;
    return start - (start - end) / kSteps * step;
}

std::string SlideTransition::CaptionLines(const std::string& caption) {
    std::string lines = caption;
    std::size_t at = lines.find("{n}");
    if (at != std::string::npos) lines.replace(at, 3, "\n");
    return lines;
}

void SlideTransition::BuildSlides() {
    // 1. The captions, until a number has neither label.
    captions_.clear();
    extraCaptions_.clear();
    for (int k = 1; k <= kMaxCaptionLabels; ++k) {
        SkinUI::CControl* caption = window_.FindControl("anima_text_" + std::to_string(k));
        SkinUI::CControl* extra = window_.FindControl("anima_text_extra_" + std::to_string(k));
        if (caption == nullptr && extra == nullptr) break;
        if (caption) captions_.push_back(caption->GetText());
        if (extra) extraCaptions_.push_back(extra->GetText());
    }
    SkinUI::CControlHost* host = window_.GetHost();
    if (host == nullptr) return;
    SkinUI::CImageCache& images = host->Images();

    // 2. The strip, one cell more than there are pictures.
    stripWidth_ = (count_ + 1) * W;
    auto strip = std::make_shared<CImage>(stripWidth_, H);
    std::fill(strip->Data(), strip->Data() + static_cast<std::size_t>(stripWidth_) * H, 0u);

    // 3. Each picture with its captions into its cell; picture 1 also as "FirstFrame" and
    //    once more as the cell that the move back to picture 1 scrolls onto.
    for (int i = 1; i <= count_; ++i) {
        std::shared_ptr<const CImage> picture = images.Get(PictureName(i));
        if (!picture) break;
        auto at = [](const std::vector<std::string>& list, int index) {
            return index < static_cast<int>(list.size()) ? list[static_cast<std::size_t>(index)] : std::string();
        };
        std::shared_ptr<CImage> cell = CaptionedPicture(*picture, at(captions_, i - 1), at(extraCaptions_, i - 1), style_);
        if (!cell) break;
        PasteInto(*strip, *cell, (i - 1) * W);
        if (i == 1) {
            images.Register("FirstFrame", cell);
            // With a single picture the copy would fall outside the strip; nothing scrolls then.
            PasteInto(*strip, *cell, count_ == 2 ? 2 * W : 3 * W);
        }
    }
    // 4.
    images.Register("Merge", strip);
    LOG(INFO) << " Slides built [count]: " << count_ << " [captions]: " << captions_.size();
}

void SlideTransition::Transition(int from, int to, int periodMs) {
    if (count_ <= 1 || !enabled_) return;
    int start = 0, end = 0;
    if (!Offsets(from, to, count_, start, end)) return;
    SkinUI::CControlHost* host = window_.GetHost();
    if (host == nullptr) return;
    SkinUI::CImageCache& images = host->Images();
    std::shared_ptr<const CImage> strip = images.Get("Merge");
    if (!strip) return;
    const int code = from * 10 + to;
    using Clock = std::chrono::steady_clock;
    Clock::time_point previous{};
    for (int step = 1; step <= kSteps; ++step) {
        std::string name = FrameName(code, step);
        if (!images.IsRegistered(name)) {
            // A move onto a cell the strip lacks (two pictures, from the copy of picture 1
            // onwards) stops at the strip's end instead of reading past it.
            int offset = std::clamp(StepOffset(start, end, step), 0, std::max(0, strip->Width() - W));
            auto frame = std::make_shared<CImage>(W, H);
            for (int y = 0; y < H; ++y) {
                std::memcpy(frame->Data() + static_cast<std::size_t>(y) * W,
                            strip->Data() + static_cast<std::size_t>(y) * strip->Width() + offset,
                            static_cast<std::size_t>(std::min(W, strip->Width())) * 4);
            }
            images.Register(name, frame);
        }
        if (step > 1) {
            while (Clock::now() - previous < std::chrono::milliseconds(periodMs)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        previous = Clock::now();
        DrawFrame(name);
    }
}

void SlideTransition::DrawFrame(const std::string& name) {
    SkinUI::CControlHost* host = window_.GetHost();
    if (host == nullptr) return;
    window_.PaintDirect(area_, [&](IPainter& painter) {
        SkinUI::CRenderer::DrawImage(painter, host->Images(), area_, name);
        SkinUI::CControlHost::StateGuard guard(host);
        for (SkinUI::CControl* dot : dots_) {
            if (dot != nullptr && dot->IsVisibleInTree()) dot->Paint(painter);
        }
    });
}
