#pragma once
// A window's message map: (notification type, control name or empty for any, handler).
// The window's Notify override sees every notification first and then hands it to
// RouteNotify, which calls the matching handlers in the order they were added.
// Thread ownership: window thread.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/TNotify.h"

namespace SkinUI {

class CNotifyRouter {
public:
    using Handler = std::function<void(TNotify&)>;

    // `type` compares without regard to letter case; `controlName` exactly, empty = any control.
    void AddMessageHandler(std::string_view type, std::string_view controlName, Handler handler);
    // Calls every matching handler; false when none matched.
    bool RouteNotify(TNotify& msg);

private:
    struct TEntry {
        std::string type;
        std::string controlName;
        Handler handler;
    };
    std::vector<TEntry> entries_;
};

}  // namespace SkinUI
