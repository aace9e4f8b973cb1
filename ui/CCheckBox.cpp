#include "ui/CCheckBox.h"

namespace SkinUI {

CCheckBox::CCheckBox() { align_ = TextAlign::ALIGN_LEFT; }

void CCheckBox::SetAttribute(std::string_view name, std::string_view value) {
    // A check box has no group, whatever the layout says.
    if (name == "group" || name == "endellipsis") return;
    COption::SetAttribute(name, value);
}

}  // namespace SkinUI
