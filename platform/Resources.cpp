#include "platform/Resources.h"

extern "C" {
// Defined by the generated EmbeddedSkin.S.
extern const unsigned char qv_skin_zip_begin[];
extern const unsigned char qv_skin_zip_end[];
}

namespace platform {

std::span<const std::byte> FindResource(std::string_view type, int id) {
    if (type != "ZIPRES" || id != 138) return {};
    auto* begin = reinterpret_cast<const std::byte*>(qv_skin_zip_begin);
    auto* end = reinterpret_cast<const std::byte*>(qv_skin_zip_end);
    return {begin, static_cast<std::size_t>(end - begin)};
}

}  // namespace platform
