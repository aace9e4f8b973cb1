#include "ui/CNotifyRouter.h"

#include "ui/CControl.h"

namespace SkinUI {

void CNotifyRouter::AddMessageHandler(std::string_view type, std::string_view controlName, Handler handler) {
    entries_.push_back({std::string(type), std::string(controlName), std::move(handler)});
}

bool CNotifyRouter::RouteNotify(TNotify& msg) {
    bool matched = false;
    // By index: a handler may add entries while it runs.
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const TEntry& e = entries_[i];
        if (!AsciiEqualNoCase(e.type, msg.type)) continue;
        if (!e.controlName.empty() && (msg.sender == nullptr || msg.sender->GetName() != e.controlName)) continue;
        matched = true;
        Handler handler = e.handler;
        handler(msg);
    }
    return matched;
}

}  // namespace SkinUI
