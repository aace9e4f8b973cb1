#pragma once
// Horizontal (or vertical) progress bar: `bkimage` is the track, `foreimage` is drawn over
// the filled fraction.
// Thread ownership: as CControl; SetValue may be called from any thread.

#include "ui/CLabel.h"

namespace SkinUI {

class CProgress : public CLabel {
public:
    CProgress();
    std::string_view GetClass() const override { return "Progress"; }
    void SetAttribute(std::string_view name, std::string_view value) override;

    int GetMinValue() const { return min_; }
    int GetMaxValue() const { return max_; }
    int GetValue() const { return value_; }
    bool IsHorizontal() const { return horizontal_; }
    // Any thread. Ignored unless min <= value <= max and different from the current value.
    bool SetValue(int value);
    // The filled part in window coordinates.
    TRect FilledRect() const;

protected:
    void PaintStatusImage(IPainter& painter) override;

private:
    std::atomic<int> min_{0};
    std::atomic<int> max_{100};
    std::atomic<int> value_{0};
    bool horizontal_ = true;
    std::string foreImage_;
};

}  // namespace SkinUI
