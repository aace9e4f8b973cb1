#include "ui/CTextLayout.h"

#include <algorithm>

namespace SkinUI {

namespace {

struct TLine {
    std::vector<TTextFragment> fragments;
    std::vector<int> widths;
    int width = 0;
    int height = 0;
};

// Splits text into words, each with the blanks that follow it.
std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t j = i;
        while (j < text.size() && text[j] != ' ') ++j;
        while (j < text.size() && text[j] == ' ') ++j;
        words.push_back(text.substr(i, j - i));
        i = j;
    }
    return words;
}

// Code point at `i` of UTF-8 `text` (advances `i`); U+FFFD for broken sequences.
char32_t NextCodePoint(const std::string& text, std::size_t& i) {
    auto lead = static_cast<unsigned char>(text[i]);
    std::size_t len = std::min(Utf8SequenceLength(lead), text.size() - i);
    char32_t cp = len == 1 ? lead : (lead & (0xFF >> (len + 1)));
    for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += len;
    return len == Utf8SequenceLength(lead) ? cp : U'\uFFFD';
}

bool IsRightToLeft(char32_t cp) {
    return (cp >= 0x0590 && cp <= 0x08FF) || (cp >= 0xFB1D && cp <= 0xFDFF) || (cp >= 0xFE70 && cp <= 0xFEFF);
}

// Blanks, digits and punctuation take the direction of their surroundings.
bool IsNeutral(char32_t cp) {
    if (cp < 0x80) return !((cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z'));
    return (cp >= 0x2000 && cp <= 0x206F) || (cp >= 0x3000 && cp <= 0x303F) || (cp >= 0xFF00 && cp <= 0xFF0F) ||
           cp == 0x00A0 || cp == 0x00AB || cp == 0x00BB;
}

// A line reads right to left when its first strongly directed character does.
bool LineIsRightToLeft(const std::vector<TTextFragment>& fragments) {
    for (const auto& f : fragments) {
        for (std::size_t i = 0; i < f.text.size();) {
            char32_t cp = NextCodePoint(f.text, i);
            if (!IsNeutral(cp)) return IsRightToLeft(cp);
        }
    }
    return false;
}

}  // namespace

const TFontInfo& CTextLayout::ResolveFont(const std::vector<TFontInfo>& fonts, int index) {
    static const TFontInfo kDefault{};
    if (index >= 0 && static_cast<std::size_t>(index) < fonts.size()) return fonts[static_cast<std::size_t>(index)];
    return fonts.empty() ? kDefault : fonts.front();
}

void CTextLayout::Clear() {
    fragments_.clear();
    contentHeight_ = 0;
}

void CTextLayout::Layout(const std::vector<TTextRun>& runs, const TRect& box, const TOptions& options,
                         ITextMeasurer& measurer, const std::vector<TFontInfo>& fonts) {
    Clear();
    const int maxWidth = std::max(0, box.Width());
    std::vector<TLine> lines(1);
    const int defaultHeight = measurer.LineHeight(ResolveFont(fonts, options.font));

    auto place = [&](const TTextRun& run, int font, std::string piece, int width) {
        TLine& line = lines.back();
        const TFontInfo& info = ResolveFont(fonts, font);
        line.height = std::max(line.height, measurer.LineHeight(info));
        if (!line.fragments.empty() && line.fragments.back().link == run.link && line.fragments.back().font == font &&
            line.fragments.back().underline == run.underline &&
            line.fragments.back().color == (run.color ? run.color : options.color)) {
            line.fragments.back().text += piece;
            line.widths.back() += width;
        } else {
            TTextFragment f;
            f.text = std::move(piece);
            f.font = font;
            f.color = run.color ? run.color : options.color;
            f.underline = run.underline || info.underline;
            f.link = run.link;
            if (run.link >= 0 && options.linkColor != 0) {
                f.color = (run.link == options.hotLink && options.linkHoverColor != 0) ? options.linkHoverColor
                                                                                       : options.linkColor;
            }
            line.fragments.push_back(std::move(f));
            line.widths.push_back(width);
        }
        line.width += width;
    };

    // 1. Break the runs into lines, wrapping words when asked to.
    for (const TTextRun& run : runs) {
        if (run.lineBreak) {
            if (lines.back().height == 0) lines.back().height = defaultHeight;
            lines.emplace_back();
            continue;
        }
        int font = run.font >= 0 ? run.font : options.font;
        const TFontInfo& info = ResolveFont(fonts, font);
        if (!options.wrap) {
            place(run, font, run.text, measurer.TextWidth(info, run.text));
            continue;
        }
        for (std::string& word : Words(run.text)) {
            int w = measurer.TextWidth(info, word);
            if (w <= maxWidth || maxWidth == 0) {
                if (lines.back().width + w > maxWidth && lines.back().width > 0) lines.emplace_back();
                place(run, font, std::move(word), w);
                continue;
            }
            // A word wider than the whole line (CJK text has no blanks) breaks between characters,
            // going on from where the line stands: a fresh line first would leave the line
            // before it half empty after every Latin word in a CJK sentence.
            std::size_t i = 0;
            while (i < word.size()) {
                std::size_t len = Utf8SequenceLength(static_cast<unsigned char>(word[i]));
                len = std::min(len, word.size() - i);
                std::string ch = word.substr(i, len);
                int cw = measurer.TextWidth(info, ch);
                if (lines.back().width + cw > maxWidth && lines.back().width > 0) lines.emplace_back();
                place(run, font, std::move(ch), cw);
                i += len;
            }
        }
    }
    for (TLine& line : lines) {
        if (line.height == 0) line.height = defaultHeight;
    }

    // 2. Place the lines, centred vertically or from the top.
    int total = 0;
    for (const TLine& line : lines) total += line.height;
    contentHeight_ = total;
    int y = options.vcenter ? std::max(box.top, box.top + (box.Height() - total) / 2) : box.top;
    for (TLine& line : lines) {
        int x = box.left;
        if (options.align == TextAlign::ALIGN_CENTER) x = box.left + (maxWidth - line.width) / 2;
        if (options.align == TextAlign::ALIGN_RIGHT) x = box.right - line.width;
        // Runs of a right-to-left line (a sentence with a link in it) follow each other leftwards.
        const bool rtl = line.fragments.size() > 1 && LineIsRightToLeft(line.fragments);
        const int lineLeft = x;
        for (std::size_t i = 0; i < line.fragments.size(); ++i) {
            TTextFragment& f = line.fragments[i];
            f.box = {x, y, x + line.widths[i], y + line.height};
            if (rtl) f.box = {2 * lineLeft + line.width - f.box.right, y, 2 * lineLeft + line.width - f.box.left, f.box.bottom};
            x += line.widths[i];
            fragments_.push_back(std::move(f));
        }
        y += line.height;
    }
}

int CTextLayout::LinkAt(TPoint p) const {
    for (const auto& f : fragments_) {
        if (f.link >= 0 && f.box.Contains(p)) return f.link;
    }
    return -1;
}

std::vector<TRect> CTextLayout::LinkRects(int index) const {
    std::vector<TRect> rects;
    for (const auto& f : fragments_) {
        if (f.link == index && index >= 0) rects.push_back(f.box);
    }
    return rects;
}

}  // namespace SkinUI
