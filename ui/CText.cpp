#include "ui/CText.h"

namespace SkinUI {

int CText::GetLinkCount() const { return showHtml_ ? CRichText::CountLinks(GetText()) : 0; }

void CText::DoEvent(TEvent& event) {
    switch (event.type) {
        case EventType::EVENT_MOUSE_MOVE:
        case EventType::EVENT_MOUSE_ENTER: {
            int link = showHtml_ ? layout_.LinkAt(event.pt) : -1;
            if (link != hotLink_) {
                hotLink_ = link;
                TextChanged();  // the hover colour
            }
            break;
        }
        case EventType::EVENT_MOUSE_LEAVE:
            if (hotLink_ != -1) {
                hotLink_ = -1;
                TextChanged();
            }
            break;
        case EventType::EVENT_BUTTON_DOWN:
            pressedLink_ = showHtml_ ? layout_.LinkAt(event.pt) : -1;
            break;
        case EventType::EVENT_BUTTON_UP: {
            int link = showHtml_ ? layout_.LinkAt(event.pt) : -1;
            int pressed = pressedLink_;
            pressedLink_ = -1;
            if (link >= 0 && link == pressed && IsEnabledInTree() && IsVisibleInTree()) SendNotify("link", link);
            break;
        }
        default:
            CLabel::DoEvent(event);
            break;
    }
}

}  // namespace SkinUI
