#pragma once
// Children placed one after another horizontally. Thread ownership: as CControl.

#include "ui/CContainer.h"

namespace SkinUI {

class CHorizontalLayout : public CContainer {
public:
    CHorizontalLayout();
    std::string_view GetClass() const override { return "HorizontalLayout"; }
};

}  // namespace SkinUI
