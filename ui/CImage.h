#pragma once
// A decoded picture: 32-bit pixels, 0xAARRGGBB in native byte order with the colour
// channels premultiplied by alpha (the layout cairo's ARGB32 surfaces use).
// Immutable once built; shared between threads through shared_ptr<const CImage>.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "ui/UiTypes.h"

namespace SkinUI {

class CImage {
public:
    static constexpr int kMaxDimension = 8192;

    CImage(int width, int height);

    // Decodes PNG or BMP bytes. Pixels exactly equal to `mask` (0xAARRGGBB before
    // premultiplying; 0 means no mask) become fully transparent. Null when undecodable
    // or larger than kMaxDimension on a side.
    static std::shared_ptr<CImage> Decode(std::span<const std::byte> bytes, TColor mask = 0);

    int Width() const { return width_; }
    int Height() const { return height_; }
    std::uint32_t Pixel(int x, int y) const { return pixels_[static_cast<std::size_t>(y) * width_ + x]; }
    std::uint32_t* Data() { return pixels_.data(); }
    const std::uint32_t* Data() const { return pixels_.data(); }
    // Bytes from one row to the next.
    int Stride() const { return width_ * 4; }

private:
    int width_;
    int height_;
    std::vector<std::uint32_t> pixels_;
};

}  // namespace SkinUI
