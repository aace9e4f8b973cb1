#pragma once
// Text whose {a} links can be clicked: a press and release on the same link sends "link"
// with the link's index (from 0) as the first parameter.
// Thread ownership: as CControl.

#include "ui/CLabel.h"

namespace SkinUI {

class CText : public CLabel {
public:
    std::string_view GetClass() const override { return "Text"; }
    bool BlocksCaptionDrag() const override { return true; }
    void DoEvent(TEvent& event) override;
    int GetLinkCount() const;

protected:
    int HotLink() const override { return hotLink_; }

private:
    int hotLink_ = -1;
    int pressedLink_ = -1;
};

}  // namespace SkinUI
