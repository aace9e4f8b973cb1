#pragma once
// How a message box ended. The numbers of Yes and NoOrClose are the close codes the box
// closes itself with.

enum class MessageBoxResult {
    NoWindow = -1,   // no window could be made; nobody saw a question
    Dismissed = 0,   // gone without a button: the window manager closed it, or its loop ended
    Yes = 1,         // the first button
    NoOrClose = 2,   // the second button or the box's own close button
};

inline const char* to_string(MessageBoxResult result) {
    switch (result) {
        case MessageBoxResult::NoWindow: return "NoWindow";
        case MessageBoxResult::Dismissed: return "Dismissed";
        case MessageBoxResult::Yes: return "Yes";
        case MessageBoxResult::NoOrClose: return "NoOrClose";
    }
    return "Unknown";
}
