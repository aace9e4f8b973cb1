#pragma once
// The kinds of message box the wizard shows. The numbers are stable: the main window
// stores them (closeConfirmKind) and the dialog picks its layout and texts by them.

#include <cstdint>

enum class MessageKind : std::int32_t {
    Replace = 0,                // not raised by any flow
    CloseWithoutAsking = 1,     // closeConfirmKind only: closing quits without a question
    Cancel = 2,                 // the user closes while the install runs
    AppExist = 3,               // the product is running
    PathError = 4,              // the install directory cannot be used
    AlternativeLayout = 5,      // selects the alternative layout; not raised by any flow
    InstallRunTimeOut = 6,      // the installer did not end in time
    MD5Fail = 7,                // the installer failed its signature check
    UrlFail = 8,                // the download ended incomplete or did not start
    InternetFail = 9,           // the network is down
    InternetTimeout = 10,       // no download progress, or a delivery location refused
    NoEnoughSpace = 11,         // too little free space for the install
    ClickShortcutToLaunch = 12, // not raised by any flow
};

inline const char* to_string(MessageKind kind) {
    switch (kind) {
        case MessageKind::Replace: return "Replace";
        case MessageKind::CloseWithoutAsking: return "CloseWithoutAsking";
        case MessageKind::Cancel: return "Cancel";
        case MessageKind::AppExist: return "AppExist";
        case MessageKind::PathError: return "PathError";
        case MessageKind::AlternativeLayout: return "AlternativeLayout";
        case MessageKind::InstallRunTimeOut: return "InstallRunTimeOut";
        case MessageKind::MD5Fail: return "MD5Fail";
        case MessageKind::UrlFail: return "UrlFail";
        case MessageKind::InternetFail: return "InternetFail";
        case MessageKind::InternetTimeout: return "InternetTimeout";
        case MessageKind::NoEnoughSpace: return "NoEnoughSpace";
        case MessageKind::ClickShortcutToLaunch: return "ClickShortcutToLaunch";
    }
    return "Unknown";  // a value outside 0-12 read from elsewhere
}
