#pragma once
// Input events the host feeds to controls, already translated by the backend.

#include <string>

#include "ui/UiTypes.h"

namespace SkinUI {

enum class EventType {
    EVENT_MOUSE_ENTER,
    EVENT_MOUSE_LEAVE,
    EVENT_MOUSE_MOVE,
    EVENT_BUTTON_DOWN,
    EVENT_BUTTON_UP,
    EVENT_MOUSE_WHEEL,
    EVENT_KEY_DOWN,
    EVENT_CHAR,
    EVENT_SET_FOCUS,
    EVENT_KILL_FOCUS,
};

// Keys the toolkit reacts to; the backend maps its key symbols onto these.
enum class Key {
    KEY_OTHER,
    KEY_ESCAPE,
    KEY_RETURN,
    KEY_TAB,
    KEY_BACKSPACE,
    KEY_DELETE,
    KEY_LEFT,
    KEY_RIGHT,
    KEY_UP,
    KEY_DOWN,
    KEY_HOME,
    KEY_END,
};

struct TEvent {
    EventType type = EventType::EVENT_MOUSE_MOVE;
    TPoint pt;           // window coordinates
    int wheelDelta = 0;  // positive: away from the user (scroll up)
    Key key = Key::KEY_OTHER;
    std::string text;    // EVENT_CHAR: the typed UTF-8 text
    bool handled = false;  // set by a control that consumed a wheel or key event
};

// The font of a `Font` element, numbered by its position in the window file.
struct TFontInfo {
    std::string name;
    int size = 12;  // pixels
    bool bold = false;
    bool italic = false;
    bool underline = false;
};

}  // namespace SkinUI
