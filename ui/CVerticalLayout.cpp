#include "ui/CVerticalLayout.h"

namespace SkinUI {

CVerticalLayout::CVerticalLayout() : CContainer(Orientation::ORIENT_VERTICAL) {}

}  // namespace SkinUI
