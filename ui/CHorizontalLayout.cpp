#include "ui/CHorizontalLayout.h"

namespace SkinUI {

CHorizontalLayout::CHorizontalLayout() : CContainer(Orientation::ORIENT_HORIZONTAL) {}

}  // namespace SkinUI
