#pragma once

#include <memory>
#include <string_view>

namespace SkinUI {

class CControl;

// Lets a window supply control classes of its own; asked for every element name the
// builder does not know. Returning null makes the builder skip the element.
class ILayoutBuilderCallback {
public:
    virtual std::unique_ptr<CControl> CreateControl(std::string_view className) = 0;

protected:
    ~ILayoutBuilderCallback() = default;
};

}  // namespace SkinUI
