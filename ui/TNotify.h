#pragma once
// The notification record: what a control reports about a user action or a state change.

#include <cstdint>
#include <string>

#include "ui/UiTypes.h"

namespace SkinUI {

class CControl;

struct TNotify {
    std::string type;           // "click", "selectchanged", "itemselect", "link", "tabselect", ...
    CControl* sender = nullptr;
    std::intptr_t wParam = 0;
    std::intptr_t lParam = 0;
    std::uint32_t time = 0;     // monotonic milliseconds when it was sent
    TPoint cursor;              // last cursor position the window saw
};

}  // namespace SkinUI
