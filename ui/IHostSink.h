#pragma once

namespace SkinUI {

// What the control host asks of the native window that carries it.
class IHostSink {
public:
    // Something must be repainted, or notifications wait for delivery on the window
    // thread. Called from any thread; the backend wakes its message loop.
    virtual void RequestRepaint() = 0;

protected:
    ~IHostSink() = default;
};

}  // namespace SkinUI
