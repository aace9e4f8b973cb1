#pragma once
// The brace markup of texts shown with showhtml: {f N}..{/f} font, {c #RRGGBB}..{/c}
// colour, {a}..{/a} link (numbered from 0 in order of appearance), {u}..{/u} underline,
// {p}..{/p} paragraph, {n} line break. Unknown tags and stray braces are text.

#include <string>
#include <string_view>
#include <vector>

#include "ui/UiTypes.h"

namespace SkinUI {

struct TTextRun {
    std::string text;
    int font = -1;          // -1: the control's font
    TColor color = 0;       // 0: the control's colour
    bool underline = false;
    int link = -1;          // index of the link the run belongs to
    bool lineBreak = false; // a break, no text
    bool operator==(const TTextRun&) const = default;
};

class CRichText {
public:
    static constexpr std::size_t kMaxNesting = 32;

    // Styled runs of `markup`. A "\n" in the text breaks the line as {n} does.
    static std::vector<TTextRun> Parse(std::string_view markup);
    // The whole text as one style, line breaks kept.
    static std::vector<TTextRun> Plain(std::string_view text);
    // How many links Parse finds.
    static int CountLinks(std::string_view markup);
};

}  // namespace SkinUI
