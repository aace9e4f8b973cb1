#include "ui/x11/CSingleInstance.h"

#include "ui/x11/X11Window.h"

namespace SkinUI {

// A connection of its own: the question comes before any window (and loop) of this process.
bool CSingleInstance::IsRunning(const std::string& className) {
    auto connection = x11::X11Connection::Open(nullptr);
    return connection && x11::X11Window::FindTopLevelByClass(*connection, className) != 0;
}

bool CSingleInstance::ActivateRunning(const std::string& className) {
    auto connection = x11::X11Connection::Open(nullptr);
    if (!connection) return false;
    x11::XId window = x11::X11Window::FindTopLevelByClass(*connection, className);
    if (window == 0) return false;
    x11::X11Window::Activate(*connection, window);
    return true;
}

}  // namespace SkinUI
