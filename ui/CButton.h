#pragma once
// Push button: state images (normal, hot, pushed, disabled, focused) and a centred text.
// Released over itself while enabled and visible, it sends "click".
// Thread ownership: as CControl.

#include "ui/CLabel.h"

namespace SkinUI {

class CButton : public CLabel {
public:
    CButton();
    std::string_view GetClass() const override { return "Button"; }
    bool BlocksCaptionDrag() const override { return true; }
    void SetAttribute(std::string_view name, std::string_view value) override;
    void DoEvent(TEvent& event) override;

    // What a release over the button does; false (and nothing happens) when the button is
    // disabled or hidden, itself or through a parent.
    virtual bool Activate();

protected:
    void PaintStatusImage(IPainter& painter) override;
    TColor CurrentTextColor() const override;

    std::string normalImage_;
    std::string hotImage_;
    std::string pushedImage_;
    std::string disabledImage_;
    std::string focusedImage_;
    TColor hotTextColor_ = 0;
    TColor pushedTextColor_ = 0;
};

}  // namespace SkinUI
