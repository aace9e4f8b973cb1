#include "ui/CZipArchive.h"

#include <zlib.h>

namespace SkinUI {

namespace {

constexpr std::uint32_t kEndOfDirectorySignature = 0x06054b50;
constexpr std::uint32_t kDirectorySignature = 0x02014b50;
constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::size_t kEndOfDirectorySize = 22;
constexpr std::size_t kDirectoryHeaderSize = 46;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kMaxCommentSize = 0xFFFF;

std::uint16_t Read16(std::span<const std::byte> d, std::size_t at) {
    return static_cast<std::uint16_t>(std::to_integer<unsigned>(d[at]) | (std::to_integer<unsigned>(d[at + 1]) << 8));
}

std::uint32_t Read32(std::span<const std::byte> d, std::size_t at) {
    return static_cast<std::uint32_t>(Read16(d, at)) | (static_cast<std::uint32_t>(Read16(d, at + 2)) << 16);
}

}  // namespace

bool CZipArchive::Open(std::span<const std::byte> data) {
    data_ = {};
    entries_.clear();
    if (data.size() < kEndOfDirectorySize) return false;

    // 1. Find the end-of-directory record: it sits in the last 22 bytes plus at most a
    //    64 KiB comment.
    std::size_t eocd = data.size() - kEndOfDirectorySize;
    std::size_t lowest = data.size() > kEndOfDirectorySize + kMaxCommentSize
                             ? data.size() - kEndOfDirectorySize - kMaxCommentSize
                             : 0;
    bool found = false;
    for (;;) {
        if (Read32(data, eocd) == kEndOfDirectorySignature &&
            eocd + kEndOfDirectorySize + Read16(data, eocd + 20) == data.size()) {
            found = true;
            break;
        }
        if (eocd == lowest) break;
        --eocd;
    }
    if (!found) return false;
    // Multi-disk archives are not packages.
    if (Read16(data, eocd + 4) != 0 || Read16(data, eocd + 6) != 0) return false;
    std::size_t count = Read16(data, eocd + 10);
    std::size_t dirSize = Read32(data, eocd + 12);
    std::size_t dirOffset = Read32(data, eocd + 16);
    if (dirOffset > eocd || dirSize > eocd - dirOffset) return false;

    // 2. Walk the central directory, checking every header stays inside it.
    std::vector<TEntry> entries;
    entries.reserve(count);
    std::size_t at = dirOffset;
    std::size_t end = dirOffset + dirSize;
    for (std::size_t i = 0; i < count; ++i) {
        if (end - at < kDirectoryHeaderSize || Read32(data, at) != kDirectorySignature) return false;
        TEntry e;
        e.flags = Read16(data, at + 8);
        e.method = Read16(data, at + 10);
        e.crc = Read32(data, at + 16);
        e.compressedSize = Read32(data, at + 20);
        e.size = Read32(data, at + 24);
        std::size_t nameLen = Read16(data, at + 28);
        std::size_t extraLen = Read16(data, at + 30);
        std::size_t commentLen = Read16(data, at + 32);
        e.localHeaderOffset = Read32(data, at + 42);
        std::size_t total = kDirectoryHeaderSize + nameLen + extraLen + commentLen;
        if (end - at < total) return false;
        e.name = std::string_view(reinterpret_cast<const char*>(data.data() + at + kDirectoryHeaderSize), nameLen);
        entries.push_back(e);
        at += total;
    }
    data_ = data;
    entries_ = std::move(entries);
    return true;
}

CZipArchive::ExtractResult CZipArchive::Extract(std::size_t index, std::size_t limit,
                                                std::vector<std::byte>& out) const {
    out.clear();
    if (index >= entries_.size()) return ExtractResult::CORRUPT;
    const TEntry& e = entries_[index];
    if (e.size > limit) return ExtractResult::TOO_LARGE;
    // Encrypted entries (flag bit 0) cannot be read.
    if (e.flags & 1) return ExtractResult::CORRUPT;

    std::size_t local = e.localHeaderOffset;
    if (local > data_.size() || data_.size() - local < kLocalHeaderSize ||
        Read32(data_, local) != kLocalHeaderSignature) {
        return ExtractResult::CORRUPT;
    }
    std::size_t start = local + kLocalHeaderSize + Read16(data_, local + 26) + Read16(data_, local + 28);
    if (start > data_.size() || data_.size() - start < e.compressedSize) return ExtractResult::CORRUPT;
    auto packed = data_.subspan(start, e.compressedSize);

    if (e.method == 0) {
        if (e.compressedSize != e.size) return ExtractResult::CORRUPT;
        out.assign(packed.begin(), packed.end());
    } else if (e.method == 8) {
        out.resize(e.size);
        z_stream zs{};
        if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return ExtractResult::CORRUPT;
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<std::byte*>(packed.data()));
        zs.avail_in = static_cast<uInt>(packed.size());
        // One spare byte shows an entry that inflates to more than its recorded size.
        std::byte spare{};
        zs.next_out = e.size ? reinterpret_cast<Bytef*>(out.data()) : reinterpret_cast<Bytef*>(&spare);
        zs.avail_out = e.size ? static_cast<uInt>(e.size) : 1;
        int rc = inflate(&zs, Z_FINISH);
        std::size_t produced = zs.total_out;
        inflateEnd(&zs);
        if (rc != Z_STREAM_END || produced != e.size) {
            out.clear();
            return ExtractResult::CORRUPT;
        }
    } else {
        return ExtractResult::CORRUPT;
    }

    uLong crc = crc32(0L, Z_NULL, 0);
    if (!out.empty()) crc = crc32(crc, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(out.size()));
    if (crc != e.crc) {
        out.clear();
        return ExtractResult::CORRUPT;
    }
    return ExtractResult::OK;
}

}  // namespace SkinUI
