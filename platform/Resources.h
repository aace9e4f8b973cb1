#pragma once
// Resources carried inside the executable itself.

#include <cstddef>
#include <span>
#include <string_view>

namespace platform {

// Returns the bytes of the resource of the given type and id, or an empty span when the
// executable carries no such resource. The bytes live as long as the process.
// Only ("ZIPRES", 138), the skin package, exists.
std::span<const std::byte> FindResource(std::string_view type, int id);

}  // namespace platform
