#pragma once

#include "ui/TNotify.h"

namespace SkinUI {

// Receives every notification of a window's controls, on the window thread.
class INotifyListener {
public:
    virtual void Notify(TNotify& msg) = 0;

protected:
    ~INotifyListener() = default;
};

}  // namespace SkinUI
