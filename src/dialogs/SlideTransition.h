#pragma once
// The sideways scroll between the progress page's slide pictures.
//
// BuildSlides draws each picture "skin\anima\N.png" with its captions into one strip,
// (count + 1) x 650 wide and 300 high, whose last cell (or the third, with two pictures)
// holds a second copy of picture 1, so that moving from the last picture to the first
// scrolls forwards. The captioned picture 1 is registered with the window as "FirstFrame",
// the strip as "Merge". A transition then shows 25 cut-outs of the strip, 650 x 300 each,
// drawn straight onto the window's surface inside `area` with the position dots on top,
// one every `period` milliseconds; every cut-out is registered under "%02d%02d" (the move's
// code from x 10 + to, and the step), so a repeated move only draws cached pictures.
//
// Picture positions follow the slide show's numbering: 1 and 2 are pictures 1 and 2, 0 is
// picture 3 (or the copy of picture 1 with two pictures).
//
// Thread ownership: the window's thread. Transition keeps that thread busy for its 25
// steps (about 1.25 s at 50 ms); nothing else of the window runs meanwhile.

#include <string>
#include <vector>

#include "ui/UiTypes.h"

namespace SkinUI {
class CSkinWindow;
class CControl;
class CImage;
}  // namespace SkinUI

// How the captions look: the language picks the face (FontForLanguage), the product
// number the colour (white for product 10, dark grey otherwise).
struct TSlideCaptionStyle {
    int languageIndex = 0;
    int softwareId = 0;
};

class SlideTransition {
public:
    static constexpr int kWidth = 650;
    static constexpr int kHeight = 300;
    static constexpr int kSteps = 25;
    // Pictures beyond this would make the strip wider than an image may be.
    static constexpr int kMaxSlides = 11;

    // `window` must outlive this object; `area` is the slide control's rectangle in window
    // coordinates; `dots` are the position dots drawn over every frame (not owned, may be
    // empty). `count` is clamped to 0-kMaxSlides. Construction builds nothing yet.
    SlideTransition(SkinUI::CSkinWindow& window, const SkinUI::TRect& area, bool enabled, int count,
                    TSlideCaptionStyle style, std::vector<SkinUI::CControl*> dots);

    // Reads the captions from the window's labels "anima_text_N" (and "anima_text_extra_N"),
    // draws the pictures into the strip and registers "FirstFrame" and "Merge".
    void BuildSlides();
    // Scrolls from one picture position to another (see above); nothing for one picture,
    // when disabled, or for a pair that is no move.
    void Transition(int from, int to, int periodMs);

    // The registered name of a step's frame: "0101" ... "2125".
    static std::string FrameName(int code, int step);
    // The strip offsets of a move; false for a pair that is no move.
    static bool Offsets(int from, int to, int count, int& start, int& end);
    // The strip offset of `step` (1-25) between `start` and `end`.
    static int StepOffset(int start, int end, int step);
    // Replaces the first "{n}" of a caption by a line break.
    static std::string CaptionLines(const std::string& caption);

    const std::vector<std::string>& Captions() const { return captions_; }
    const std::vector<std::string>& ExtraCaptions() const { return extraCaptions_; }
    int Count() const { return count_; }

private:
    void DrawFrame(const std::string& name);

    SkinUI::CSkinWindow& window_;
    SkinUI::TRect area_;
    bool enabled_;
    int count_;
    TSlideCaptionStyle style_;
    std::vector<SkinUI::CControl*> dots_;
    std::vector<std::string> captions_;
    std::vector<std::string> extraCaptions_;
    int stripWidth_ = 0;
};
