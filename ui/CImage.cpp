#include "ui/CImage.h"

#include <limits>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_MAX_DIMENSIONS 8192
#include <stb/stb_image.h>

namespace SkinUI {

CImage::CImage(int width, int height)
    : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0) {}

std::shared_ptr<CImage> CImage::Decode(std::span<const std::byte> bytes, TColor mask) {
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return nullptr;
    int w = 0, h = 0, channels = 0;
    stbi_uc* rgba = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()), static_cast<int>(bytes.size()),
                                          &w, &h, &channels, 4);
    if (rgba == nullptr) return nullptr;
    std::unique_ptr<stbi_uc, void (*)(void*)> owner(rgba, stbi_image_free);
    if (w <= 0 || h <= 0 || w > kMaxDimension || h > kMaxDimension) return nullptr;

    auto image = std::make_shared<CImage>(w, h);
    std::uint32_t* out = image->Data();
    std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t r = rgba[i * 4], g = rgba[i * 4 + 1], b = rgba[i * 4 + 2], a = rgba[i * 4 + 3];
        std::uint32_t argb = (a << 24) | (r << 16) | (g << 8) | b;
        if (mask != 0 && argb == mask) {
            out[i] = 0;
            continue;
        }
        // Rounded premultiplication: (c * a + 127) / 255.
        r = (r * a + 127) / 255;
        g = (g * a + 127) / 255;
        b = (b * a + 127) / 255;
        out[i] = (a << 24) | (r << 16) | (g << 8) | b;
    }
    return image;
}

}  // namespace SkinUI
