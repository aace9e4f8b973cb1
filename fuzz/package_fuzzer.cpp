// libFuzzer target: arbitrary bytes as a skin package. Opening, listing, looking up and
// inflating every entry must never crash, hang or read outside the input.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ui/CSkinPackage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto bytes = std::span<const std::byte>(reinterpret_cast<const std::byte*>(data), size);
    auto package = SkinUI::CSkinPackage::OpenMemory(bytes);
    if (!package) return 0;
    std::string text;
    std::vector<std::byte> out;
    int reads = 0;
    for (const auto& name : package->List()) {
        if (++reads > 64) break;
        (void)package->ReadText(name, text);
        (void)package->ReadBinary(name, 1 << 20, out);
        std::string other = name;
        for (char& c : other) c = (c == '/') ? '\\' : c;
        (void)package->Contains(other);
    }
    return 0;
}
