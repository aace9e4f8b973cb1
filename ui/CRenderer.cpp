#include "ui/CRenderer.h"

#include "ui/TImageRef.h"

namespace SkinUI {

bool CRenderer::DrawImage(IPainter& painter, CImageCache& images, const TRect& rect, std::string_view reference) {
    TImageRef ref = TImageRef::Parse(reference);
    auto image = images.Get(ref.file, ref.mask);
    if (!image) return false;
    TRect full{0, 0, image->Width(), image->Height()};
    TRect source = ref.source ? ref.source->Intersect(full) : full;
    if (source.IsEmpty()) return false;
    TRect dest = rect;
    if (ref.dest) {
        dest = ref.dest->Offset(rect.left, rect.top).Intersect(rect);
        if (dest.IsEmpty()) return false;
    }
    painter.DrawImage(*image, source, dest, ref.corner);
    return true;
}

void CRenderer::DrawText(IPainter& painter, const CTextLayout& layout, const std::vector<TFontInfo>& fonts,
                         TColor color) {
    for (const auto& f : layout.Fragments()) {
        if (f.text.empty()) continue;
        painter.DrawText(f.box, f.text, CTextLayout::ResolveFont(fonts, f.font), color != 0 ? color : f.color,
                         f.underline);
    }
}

}  // namespace SkinUI
