#pragma once
// Single-line text entry: takes the focus on a press, inserts typed text at the caret
// (which starts at the end of the text),
// Backspace/Delete/Left/Right/Home/End edit and move. The text is bounded.
// Thread ownership: as CControl.

#include "ui/CLabel.h"

namespace SkinUI {

class CEdit : public CLabel {
public:
    static constexpr std::size_t kMaxCodePoints = 1024;

    std::string_view GetClass() const override { return "Edit"; }
    bool IsFocusable() const override { return true; }
    void SetAttribute(std::string_view name, std::string_view value) override;
    void SetText(std::string_view text) override;
    void DoEvent(TEvent& event) override;
    void LayoutText(ITextMeasurer& measurer) override;

    bool IsReadOnly() const { return readOnly_; }
    // Caret as a byte offset into the text, always on a character boundary.
    std::size_t GetCaret() const { return caret_; }
    // Caret rectangle from the last text placement (1 pixel wide).
    TRect CaretRect() const { return caretRect_; }
    // Selects the whole text (Ctrl+A): the next typed text, Backspace or Delete replaces
    // it; a caret move drops the selection.
    void SelectAll();
    bool IsAllSelected() const { return allSelected_; }

protected:
    void PaintText(IPainter& painter) override;
    void PaintBorder(IPainter& painter) override;

private:
    bool readOnly_ = false;
    std::size_t caret_ = 0;
    TRect caretRect_;
    bool allSelected_ = false;  // under the host's state lock
    TRect selectionRect_;
    TColor nativeBkColor_ = 0;
    TColor focusBorderColor_ = 0;
};

}  // namespace SkinUI
