#pragma once
// The vertical scroll bar of a scrolling container: a rail and a thumb, drawn with the
// window's "VScrollBar" default attributes (bknormalimage, thumbnormalimage,
// thumbhotimage, thumbpushedimage, width). Dragging the thumb scrolls; a press on the rail
// scrolls a page towards it. Not a child of its container: the container owns, places and
// paints it after its children.
// Thread ownership: window thread.

#include <string>

#include "ui/CControl.h"

namespace SkinUI {

class CContainer;

class CScrollBar : public CControl {
public:
    static constexpr int kDefaultWidth = 8;
    static constexpr int kMinThumb = 16;

    explicit CScrollBar(CContainer& owner) : owner_(owner) {}
    std::string_view GetClass() const override { return "VScrollBar"; }
    bool BlocksCaptionDrag() const override { return true; }
    void SetAttribute(std::string_view name, std::string_view value) override;
    void DoEvent(TEvent& event) override;

    int Width() const { return fixedWidth_ > 0 ? fixedWidth_ : kDefaultWidth; }
    // The thumb in window coordinates; empty when the owner does not scroll.
    TRect ThumbRect() const;

protected:
    void PaintStatusImage(IPainter& painter) override;

private:
    bool DrawPart(IPainter& painter, const std::string& reference, const TRect& rect);

    CContainer& owner_;
    std::string railImage_;
    std::string thumbImage_;
    std::string thumbHotImage_;
    std::string thumbPushedImage_;
    bool dragging_ = false;
    int grabOffset_ = 0;
};

}  // namespace SkinUI
