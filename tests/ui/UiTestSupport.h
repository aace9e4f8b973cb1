#pragma once
// Headless stand-ins for what the display backend supplies: a fixed-width text measurer,
// a painter that records what it was asked to draw, and a notification recorder.

#include <string>
#include <vector>

#include "ui/CControl.h"
#include "ui/CImage.h"
#include "ui/INotifyListener.h"
#include "ui/IPainter.h"
#include "ui/ITextMeasurer.h"
#include "ui/UiTypes.h"

namespace uitest {

using namespace SkinUI;

// The small skin the toolkit's tests load.
inline const std::string kFixtures = std::string(QV_SOURCE_DIR) + "/tests/fixtures/ui/skin";

// Every character is half the font size wide; a line is the font size plus 4.
class FixedMeasurer : public ITextMeasurer {
public:
    int TextWidth(const TFontInfo& font, std::string_view text) override {
        return static_cast<int>(CodePointCount(text)) * (font.size / 2);
    }
    int LineHeight(const TFontInfo& font) override { return font.size + 4; }
};

struct PaintOp {
    std::string kind;  // "fill", "border", "image", "text", "clip", "unclip"
    TRect rect;
    TColor color = 0;
    std::string text;
    TRect source;
    const CImage* image = nullptr;
    bool underline = false;
    int fontSize = 0;
};

class RecordingPainter : public IPainter {
public:
    std::vector<PaintOp> ops;
    static PaintOp Op(const char* kind, const TRect& rect, TColor color = 0) {
        PaintOp op;
        op.kind = kind;
        op.rect = rect;
        op.color = color;
        return op;
    }
    void PushClip(const TRect& rect) override { ops.push_back(Op("clip", rect)); }
    void PopClip() override { ops.push_back(Op("unclip", {})); }
    void FillRect(const TRect& rect, TColor color) override { ops.push_back(Op("fill", rect, color)); }
    void DrawBorder(const TRect& rect, const TRect&, TColor color) override { ops.push_back(Op("border", rect, color)); }
    void DrawImage(const CImage& image, const TRect& source, const TRect& dest, const TRect&) override {
        PaintOp op = Op("image", dest);
        op.source = source;
        op.image = &image;
        ops.push_back(op);
    }
    void DrawText(const TRect& box, std::string_view text, const TFontInfo& font, TColor color,
                  bool underline) override {
        PaintOp op = Op("text", box, color);
        op.text.assign(text);
        op.underline = underline;
        op.fontSize = font.size;
        ops.push_back(op);
    }
    std::vector<PaintOp> Of(const std::string& kind) const {
        std::vector<PaintOp> out;
        for (const auto& op : ops) {
            if (op.kind == kind) out.push_back(op);
        }
        return out;
    }
};

struct Received {
    std::string type;
    std::string sender;
    std::intptr_t wParam;
    std::intptr_t lParam;
    bool operator==(const Received&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Received& r) {
    return os << r.type << "(" << r.sender << "," << r.wParam << "," << r.lParam << ")";
}

class Recorder : public INotifyListener {
public:
    std::vector<Received> got;
    std::function<void(TNotify&)> onNotify;
    void Notify(TNotify& msg) override {
        got.push_back({msg.type, msg.sender ? msg.sender->GetName() : "", msg.wParam, msg.lParam});
        if (onNotify) onNotify(msg);
    }
};

}  // namespace uitest
