#pragma once
// Pages stacked in one place, exactly one of them shown.
// Thread ownership: as CControl; SelectItem may be called from any thread.

#include "ui/CContainer.h"

namespace SkinUI {

class CTabLayout : public CContainer {
public:
    CTabLayout();
    std::string_view GetClass() const override { return "TabLayout"; }

    CControl* Add(std::unique_ptr<CControl> child) override;
    void SetAttribute(std::string_view name, std::string_view value) override;

    int GetCurSel() const { return curSel_; }
    // Any thread. An index outside the pages is ignored (false); selecting the shown page
    // does nothing; otherwise the page is shown, the others hidden, and "tabselect"
    // (new index, old index) is sent.
    bool SelectItem(int index);

private:
    int curSel_ = 0;
};

}  // namespace SkinUI
