#pragma once
// Children placed one after another vertically. Thread ownership: as CControl.

#include "ui/CContainer.h"

namespace SkinUI {

class CVerticalLayout : public CContainer {
public:
    CVerticalLayout();
    std::string_view GetClass() const override { return "VerticalLayout"; }
};

}  // namespace SkinUI
