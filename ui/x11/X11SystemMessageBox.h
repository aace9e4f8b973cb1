#pragma once
// The plain, unskinned system message box: caption, text and an OK button, drawn without
// the skin package (it is what appears when the skin itself cannot be built). The text
// is also written to standard error, so it is not lost without a display.

#include <string>

namespace SkinUI::x11 {

class X11SystemMessageBox {
public:
    // Shows the box modally on the calling thread and returns when it is dismissed
    // (OK, Return, Escape or the window manager's close). Without a display it only
    // writes to standard error. Returns false when no window could be shown.
    static bool Show(const std::string& text, const std::string& caption);
};

}  // namespace SkinUI::x11
