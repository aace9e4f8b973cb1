#pragma once
// One item of a combo box's list. The combo places and colours it when the list opens.
// Thread ownership: as CControl.

#include "ui/CLabel.h"

namespace SkinUI {

class CListLabelElement : public CLabel {
public:
    static constexpr int kDefaultHeight = 24;

    std::string_view GetClass() const override { return "ListLabelElement"; }
    void SetAttribute(std::string_view name, std::string_view value) override;
    bool IsSelected() const { return selected_; }
    void SetSelectedState(bool selected) { selected_ = selected; }
    // Set by the combo before placing the text: the colours of the item's state.
    void SetColors(TColor text, TColor background) {
        textColor_ = text;
        bkColor_ = background;
    }

private:
    bool selected_ = false;
};

}  // namespace SkinUI
