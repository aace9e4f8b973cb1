#pragma once
// A read-only ZIP archive over memory the caller keeps alive (the embedded skin package).
// Nothing is copied: entry names point into the archive and entries are inflated on demand.
// Thread ownership: immutable after Open, so any thread may read concurrently.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace SkinUI {

class CZipArchive {
public:
    struct TEntry {
        std::string_view name;  // as stored, "/" separated
        std::uint16_t method = 0;
        std::uint16_t flags = 0;
        std::uint32_t crc = 0;
        std::uint32_t compressedSize = 0;
        std::uint32_t size = 0;
        std::uint32_t localHeaderOffset = 0;
        bool IsDirectory() const { return !name.empty() && name.back() == '/'; }
    };

    enum class ExtractResult { OK, TOO_LARGE, CORRUPT };

    // Reads the central directory. Returns false (and holds no entries) for anything that is
    // not a well-formed single-disk archive inside `data`.
    bool Open(std::span<const std::byte> data);

    const std::vector<TEntry>& Entries() const { return entries_; }

    // Inflates entry `index` whole into `out`. Entries larger than `limit` are not read.
    ExtractResult Extract(std::size_t index, std::size_t limit, std::vector<std::byte>& out) const;

private:
    std::span<const std::byte> data_;
    std::vector<TEntry> entries_;
};

}  // namespace SkinUI
