#pragma once
// One instance per desktop: a process looks for a top-level window of its window class,
// of any process on the same display, and brings that one forward instead of starting.

#include <string>

namespace SkinUI {

class CSingleInstance {
public:
    // True when a window of `className` exists on the display.
    static bool IsRunning(const std::string& className);
    // Raises, restores and focuses that window; false when there is none (or no display).
    static bool ActivateRunning(const std::string& className);
};

}  // namespace SkinUI
