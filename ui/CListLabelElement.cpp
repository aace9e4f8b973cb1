#include "ui/CListLabelElement.h"

namespace SkinUI {

void CListLabelElement::SetAttribute(std::string_view name, std::string_view value) {
    if (name == "selected") {
        selected_ = ParseBool(value);
    } else {
        CLabel::SetAttribute(name, value);
    }
}

}  // namespace SkinUI
