#pragma once
// Ctrl-C for command-line tools: while an InterruptScope lives, SIGINT and SIGTERM only
// raise a flag that the tool polls, so a long operation can stop cleanly and save its
// state instead of dying in the middle of a write.

namespace platform {

class InterruptScope {
public:
    InterruptScope();   // installs the handlers and clears the flag
    ~InterruptScope();  // restores the previous handlers
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

    // Whether SIGINT or SIGTERM arrived since the scope began. Async-signal-safe flag.
    static bool Requested();
};

}  // namespace platform
