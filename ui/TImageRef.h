#pragma once
// An image reference as layouts write it: a bare entry name ("skin\OptionNormal.png") or
// key='value' pairs separated by blanks: file, source, dest, corner, mask.

#include <optional>
#include <string>
#include <string_view>

#include "ui/UiTypes.h"

namespace SkinUI {

struct TImageRef {
    std::string file;
    std::optional<TRect> source;  // part of the image; default the whole image
    std::optional<TRect> dest;    // relative to the control; default the whole control
    TRect corner;                 // widths kept unstretched
    TColor mask = 0;              // 0: none

    static TImageRef Parse(std::string_view text);
};

}  // namespace SkinUI
