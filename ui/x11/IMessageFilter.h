#pragma once

#include <cstdint>

namespace SkinUI {

// Sees a window's key messages before the controls do; true swallows the message.
class IMessageFilter {
public:
    virtual bool MessageFilter(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) = 0;

protected:
    ~IMessageFilter() = default;
};

}  // namespace SkinUI
