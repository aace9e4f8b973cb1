#pragma once
// Check box: an option without group, so every change sends "selectchanged". Unlike other
// options it lets a press in the caption band drag the window.
// Thread ownership: as CControl.

#include "ui/COption.h"

namespace SkinUI {

class CCheckBox : public COption {
public:
    CCheckBox();
    std::string_view GetClass() const override { return "CheckBox"; }
    bool BlocksCaptionDrag() const override { return false; }
    void SetAttribute(std::string_view name, std::string_view value) override;
    bool GetCheck() const { return IsSelected(); }
    void SetCheck(bool check) { Selected(check); }
};

}  // namespace SkinUI
