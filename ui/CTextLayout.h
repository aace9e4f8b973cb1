#pragma once
// Places styled runs into a rectangle: lines, word wrapping, alignment, and the rectangles
// of links for hit testing. Runs during the layout pass; painting only reads Fragments().

#include <string>
#include <vector>

#include "ui/CRichText.h"
#include "ui/ITextMeasurer.h"

namespace SkinUI {

enum class TextAlign { ALIGN_LEFT, ALIGN_CENTER, ALIGN_RIGHT };

struct TTextFragment {
    TRect box;        // line box of the run piece
    std::string text;
    int font = -1;    // resolved index, -1 the default font
    TColor color = 0; // resolved colour
    bool underline = false;
    int link = -1;
};

class CTextLayout {
public:
    struct TOptions {
        int font = -1;              // control font
        TColor color = 0xFF000000;  // control text colour
        TextAlign align = TextAlign::ALIGN_LEFT;
        bool wrap = false;          // break lines between words to fit the width
        bool vcenter = true;        // centre the lines vertically (else from the top)
        TColor linkColor = 0;       // 0: links keep their run colour
        TColor linkHoverColor = 0;
        int hotLink = -1;
    };
    // `fonts` maps a font index (-1 = default) to its description.
    void Layout(const std::vector<TTextRun>& runs, const TRect& box, const TOptions& options,
                ITextMeasurer& measurer, const std::vector<TFontInfo>& fonts);
    void Clear();

    const std::vector<TTextFragment>& Fragments() const { return fragments_; }
    // Index of the link under `p`, or -1.
    int LinkAt(TPoint p) const;
    // The rectangles of link `index` (a wrapped link has several).
    std::vector<TRect> LinkRects(int index) const;
    // Height the lines take (for scrolling holders).
    int ContentHeight() const { return contentHeight_; }

    static const TFontInfo& ResolveFont(const std::vector<TFontInfo>& fonts, int index);

private:
    std::vector<TTextFragment> fragments_;
    int contentHeight_ = 0;
};

}  // namespace SkinUI
