#pragma once
// Radio item. Options with the same `group` in one window exclude each other: selecting
// one first deselects the others of its group silently, then sends one "selectchanged";
// a grouped option that gets deselected sends nothing. Without a group (check boxes)
// every change, in either direction, sends "selectchanged". Setting the selection sends
// the notification even when the state does not change. A click sends "click" first and
// then changes the selection.
// Thread ownership: as CControl.

#include "ui/CButton.h"

namespace SkinUI {

class COption : public CButton {
public:
    std::string_view GetClass() const override { return "Option"; }
    void SetAttribute(std::string_view name, std::string_view value) override;
    bool Activate() override;

    const std::string& GetGroup() const { return group_; }
    bool IsSelected() const { return selected_; }
    // Any thread (the notification then reaches the window thread later).
    virtual void Selected(bool selected);

protected:
    void PaintStatusImage(IPainter& painter) override;

    std::string group_;
    bool selected_ = false;
    std::string selectedImage_;
    std::string selectedHotImage_;
};

}  // namespace SkinUI
