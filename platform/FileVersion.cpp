#include "platform/FileVersion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

namespace platform {
namespace {

// Bounds on what a reader walks through; real files stay far below each of them.
constexpr std::uint32_t kMaxPeSections = 96;            // the Windows loader's own limit
constexpr std::uint32_t kMaxResourceEntries = 4096;     // per resource directory
constexpr std::uint32_t kMaxVersionBlock = 64 * 1024;   // a version resource's wLength is 16 bits
constexpr std::uint32_t kMaxElfHeaders = 4096;          // sections or program headers
constexpr std::uint64_t kMaxNoteRegion = 1024 * 1024;   // one note section or segment
constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
constexpr std::uint32_t kVersionNoteType = 0x5156;
constexpr std::string_view kVersionNoteName{"Quorvane\0", 9};

// Random access to the bytes of a file or of a buffer; every read is checked against the size.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // False unless all n bytes at offset exist and were read.
    virtual bool read(std::uint64_t offset, void* dst, std::size_t n) const = 0;

    bool contains(std::uint64_t offset, std::uint64_t n) const { return offset <= size() && n <= size() - offset; }
    std::optional<std::uint16_t> u16(std::uint64_t offset) const {
        std::uint8_t b[2];
        if (!read(offset, b, 2)) return std::nullopt;
        return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
    }
    std::optional<std::uint32_t> u32(std::uint64_t offset) const {
        std::uint8_t b[4];
        if (!read(offset, b, 4)) return std::nullopt;
        return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
               (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
    }
    std::optional<std::uint64_t> u64(std::uint64_t offset) const {
        auto lo = u32(offset), hi = u32(offset + 4);
        if (!lo || !hi || offset + 4 < offset) return std::nullopt;
        return static_cast<std::uint64_t>(*lo) | (static_cast<std::uint64_t>(*hi) << 32);
    }
    std::optional<std::vector<std::uint8_t>> bytes(std::uint64_t offset, std::uint64_t n) const {
        if (!contains(offset, n)) return std::nullopt;
        std::vector<std::uint8_t> out(static_cast<std::size_t>(n));
        if (n > 0 && !read(offset, out.data(), out.size())) return std::nullopt;
        return out;
    }
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> data) : data_(data) {}
    std::uint64_t size() const override { return data_.size(); }
    bool read(std::uint64_t offset, void* dst, std::size_t n) const override {
        if (!contains(offset, n)) return false;
        if (n > 0) std::memcpy(dst, data_.data() + offset, n);
        return true;
    }

private:
    std::span<const std::uint8_t> data_;
};

class FileSource final : public ByteSource {
public:
    explicit FileSource(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)) {
        struct stat st {};
        // Only regular files: a FIFO or a device would block or never end (O_NONBLOCK keeps
        // the open itself from waiting for a FIFO's writer).
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
            size_ = static_cast<std::uint64_t>(st.st_size);
            ok_ = true;
        }
    }
    ~FileSource() override {
        if (fd_ >= 0) ::close(fd_);
    }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    bool ok() const { return ok_; }
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* dst, std::size_t n) const override {
        if (!ok_ || !contains(offset, n)) return false;
        auto* out = static_cast<std::uint8_t*>(dst);
        while (n > 0) {
            ssize_t got = ::pread(fd_, out, n, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;  // the file shrank under us
            out += got;
            offset += static_cast<std::uint64_t>(got);
            n -= static_cast<std::size_t>(got);
        }
        return true;
    }

private:
    int fd_ = -1;
    bool ok_ = false;
    std::uint64_t size_ = 0;
};

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// ---- PE ----------------------------------------------------------------------------------

struct PeSection {
    std::uint32_t virtualAddress, rawSize, rawPointer;
};

class PeImage {
public:
    explicit PeImage(const ByteSource& src) : src_(src) {}

    std::optional<FileVersion> version() {
        auto rsrcRva = resourceDirectoryRva();
        if (!rsrcRva) return std::nullopt;
        auto data = versionResourceData(*rsrcRva);
        if (!data) return std::nullopt;
        return fixedFileInfo(*data);
    }

private:
    // Finds the resource data directory and loads the section table; nullopt for anything not PE.
    std::optional<std::uint32_t> resourceDirectoryRva() {
        std::uint8_t mz[2];
        if (!src_.read(0, mz, 2) || mz[0] != 'M' || mz[1] != 'Z') return std::nullopt;
        auto lfanew = src_.u32(0x3C);
        if (!lfanew) return std::nullopt;
        std::uint8_t sig[4];
        if (!src_.read(*lfanew, sig, 4) || std::memcmp(sig, "PE\0\0", 4) != 0) return std::nullopt;
        const std::uint64_t coff = static_cast<std::uint64_t>(*lfanew) + 4;
        auto sectionCount = src_.u16(coff + 2);
        auto optionalSize = src_.u16(coff + 16);
        if (!sectionCount || !optionalSize) return std::nullopt;
        const std::uint64_t opt = coff + 20;
        auto magic = src_.u16(opt);
        if (!magic) return std::nullopt;
        std::uint64_t countAt = 0, dirsAt = 0;
        if (*magic == 0x10B) {
            countAt = opt + 92;
            dirsAt = opt + 96;
        } else if (*magic == 0x20B) {
            countAt = opt + 108;
            dirsAt = opt + 112;
        } else {
            return std::nullopt;
        }
        auto dirCount = src_.u32(countAt);
        // The resource directory is entry 2 and must lie inside the optional header.
        if (!dirCount || *dirCount < 3 || dirsAt + 3 * 8 > opt + *optionalSize) return std::nullopt;
        auto rva = src_.u32(dirsAt + 2 * 8);
        if (!rva || *rva == 0) return std::nullopt;

        if (*sectionCount > kMaxPeSections) return std::nullopt;
        const std::uint64_t table = opt + *optionalSize;
        for (std::uint32_t i = 0; i < *sectionCount; ++i) {
            const std::uint64_t at = table + 40ull * i;
            auto va = src_.u32(at + 12), rawSize = src_.u32(at + 16), rawPtr = src_.u32(at + 20);
            if (!va || !rawSize || !rawPtr) return std::nullopt;
            sections_.push_back({*va, *rawSize, *rawPtr});
        }
        return *rva;
    }

    // File offset of n bytes at a relative virtual address, when a section's file data holds them.
    std::optional<std::uint64_t> fileOffset(std::uint64_t rva, std::uint64_t n) const {
        for (const auto& s : sections_) {
            if (rva < s.virtualAddress) continue;
            const std::uint64_t inSection = rva - s.virtualAddress;
            if (inSection > s.rawSize || n > s.rawSize - inSection) continue;
            const std::uint64_t offset = s.rawPointer + inSection;
            if (!src_.contains(offset, n)) return std::nullopt;
            return offset;
        }
        return std::nullopt;
    }

    struct Entry {
        std::uint32_t name, target;
        bool isDirectory() const { return (target & 0x80000000u) != 0; }
        std::uint32_t offset() const { return target & 0x7FFFFFFFu; }
    };

    std::optional<std::vector<Entry>> directory(std::uint32_t rsrcRva, std::uint32_t dirOffset) const {
        const std::uint64_t rva = static_cast<std::uint64_t>(rsrcRva) + dirOffset;
        auto at = fileOffset(rva, 16);
        if (!at) return std::nullopt;
        auto named = src_.u16(*at + 12), ids = src_.u16(*at + 14);
        if (!named || !ids) return std::nullopt;
        const std::uint32_t count = std::min<std::uint32_t>(static_cast<std::uint32_t>(*named) + *ids, kMaxResourceEntries);
        auto entriesAt = fileOffset(rva + 16, 8ull * count);
        if (!entriesAt) return std::nullopt;
        auto raw = src_.bytes(*entriesAt, 8ull * count);
        if (!raw) return std::nullopt;
        std::vector<Entry> entries;
        for (std::uint32_t i = 0; i < count; ++i) entries.push_back({Le32(*raw, i * 8), Le32(*raw, i * 8 + 4)});
        return entries;
    }

    // Type RT_VERSION, then its first name, then its first language: the block GetFileVersionInfo reads.
    std::optional<std::vector<std::uint8_t>> versionResourceData(std::uint32_t rsrcRva) const {
        auto types = directory(rsrcRva, 0);
        if (!types) return std::nullopt;
        auto type = std::find_if(types->begin(), types->end(), [](const Entry& e) {
            return !(e.name & 0x80000000u) && e.name == kRtVersion && e.isDirectory();
        });
        if (type == types->end()) return std::nullopt;
        auto names = directory(rsrcRva, type->offset());
        if (!names) return std::nullopt;
        auto name = std::find_if(names->begin(), names->end(), [](const Entry& e) { return e.isDirectory(); });
        if (name == names->end()) return std::nullopt;
        auto languages = directory(rsrcRva, name->offset());
        if (!languages) return std::nullopt;
        auto lang = std::find_if(languages->begin(), languages->end(), [](const Entry& e) { return !e.isDirectory(); });
        if (lang == languages->end()) return std::nullopt;

        auto dataEntry = fileOffset(static_cast<std::uint64_t>(rsrcRva) + lang->offset(), 16);
        if (!dataEntry) return std::nullopt;
        auto dataRva = src_.u32(*dataEntry), dataSize = src_.u32(*dataEntry + 4);
        if (!dataRva || !dataSize) return std::nullopt;
        const std::uint32_t size = std::min(*dataSize, kMaxVersionBlock);
        auto at = fileOffset(*dataRva, size);
        if (!at) return std::nullopt;
        return src_.bytes(*at, size);
    }

    // VS_VERSIONINFO: wLength, wValueLength, wType, L"VS_VERSION_INFO", padding, VS_FIXEDFILEINFO.
    static std::optional<FileVersion> fixedFileInfo(const std::vector<std::uint8_t>& block) {
        constexpr std::u16string_view kKey = u"VS_VERSION_INFO";
        constexpr std::size_t kKeyAt = 6;
        constexpr std::size_t kValueAt = (kKeyAt + (kKey.size() + 1) * 2 + 3) & ~std::size_t{3};
        constexpr std::size_t kFixedInfoSize = 52;
        if (block.size() < kValueAt + kFixedInfoSize) return std::nullopt;
        const std::size_t length = block[0] | (block[1] << 8);
        const std::size_t valueLength = block[2] | (block[3] << 8);
        if (length < kValueAt + kFixedInfoSize || length > block.size() || valueLength < kFixedInfoSize) return std::nullopt;
        for (std::size_t i = 0; i <= kKey.size(); ++i) {
            const char16_t want = i < kKey.size() ? kKey[i] : u'\0';
            const char16_t got = static_cast<char16_t>(block[kKeyAt + 2 * i] | (block[kKeyAt + 2 * i + 1] << 8));
            if (got != want) return std::nullopt;
        }
        if (Le32(block, kValueAt) != kFixedFileInfoSignature) return std::nullopt;
        const std::uint32_t ms = Le32(block, kValueAt + 8), ls = Le32(block, kValueAt + 12);
        return FileVersion{ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF};
    }

    const ByteSource& src_;
    std::vector<PeSection> sections_;
};

// ---- ELF ---------------------------------------------------------------------------------

std::optional<FileVersion> VersionNoteIn(const ByteSource& src, std::uint64_t offset, std::uint64_t size,
                                         std::uint64_t align) {
    if (size < 12) return std::nullopt;
    size = std::min(size, kMaxNoteRegion);
    auto region = src.bytes(offset, size);
    if (!region) return std::nullopt;
    const std::uint64_t a = align == 8 ? 8 : 4;
    auto padded = [a](std::uint64_t n) { return (n + a - 1) / a * a; };
    std::uint64_t at = 0;
    while (at + 12 <= region->size()) {
        const std::uint64_t nameSize = Le32(*region, at), descSize = Le32(*region, at + 4);
        const std::uint32_t type = Le32(*region, at + 8);
        const std::uint64_t nameAt = at + 12;
        const std::uint64_t descAt = nameAt + padded(nameSize);
        const std::uint64_t next = descAt + padded(descSize);
        if (descAt > region->size() || next > region->size()) return std::nullopt;
        if (type == kVersionNoteType && nameSize == kVersionNoteName.size() && descSize >= 16 &&
            std::memcmp(region->data() + nameAt, kVersionNoteName.data(), kVersionNoteName.size()) == 0) {
            return FileVersion{Le32(*region, descAt), Le32(*region, descAt + 4), Le32(*region, descAt + 8),
                               Le32(*region, descAt + 12)};
        }
        at = next;
    }
    return std::nullopt;
}

std::optional<FileVersion> ElfVersion(const ByteSource& src) {
    std::uint8_t ident[16];
    if (!src.read(0, ident, sizeof ident) || std::memcmp(ident, "\x7F" "ELF", 4) != 0) return std::nullopt;
    const bool is64 = ident[4] == 2;
    if ((ident[4] != 1 && ident[4] != 2) || ident[5] != 1) return std::nullopt;  // little-endian only

    // Address-sized fields: 8 bytes in ELF64, 4 in ELF32.
    auto word = [&](std::uint64_t at) -> std::optional<std::uint64_t> {
        if (is64) return src.u64(at);
        if (auto v = src.u32(at)) return *v;
        return std::nullopt;
    };
    auto phoff = word(is64 ? 32 : 28), shoff = word(is64 ? 40 : 32);
    auto phentsize = src.u16(is64 ? 54 : 42), phnum = src.u16(is64 ? 56 : 44);
    auto shentsize = src.u16(is64 ? 58 : 46), shnum = src.u16(is64 ? 60 : 48);
    if (!phoff || !shoff || !phentsize || !phnum || !shentsize || !shnum) return std::nullopt;

    // Note sections first; stripped files may keep only the PT_NOTE segments.
    const std::uint16_t minShent = is64 ? 64 : 40;
    if (*shoff != 0 && *shentsize >= minShent) {
        for (std::uint32_t i = 0; i < std::min<std::uint32_t>(*shnum, kMaxElfHeaders); ++i) {
            const std::uint64_t at = *shoff + static_cast<std::uint64_t>(i) * *shentsize;
            if (at < *shoff) break;
            auto type = src.u32(at + 4);
            if (!type) break;
            if (*type != 7) continue;  // SHT_NOTE
            auto off = word(at + (is64 ? 24 : 16)), size = word(at + (is64 ? 32 : 20)),
                 align = word(at + (is64 ? 48 : 32));
            if (!off || !size || !align) break;
            if (auto v = VersionNoteIn(src, *off, *size, *align)) return v;
        }
    }
    const std::uint16_t minPhent = is64 ? 56 : 32;
    if (*phoff != 0 && *phentsize >= minPhent) {
        for (std::uint32_t i = 0; i < std::min<std::uint32_t>(*phnum, kMaxElfHeaders); ++i) {
            const std::uint64_t at = *phoff + static_cast<std::uint64_t>(i) * *phentsize;
            if (at < *phoff) break;
            auto type = src.u32(at);
            if (!type) break;
            if (*type != 4) continue;  // PT_NOTE
            auto off = word(at + (is64 ? 8 : 4)), size = word(at + (is64 ? 32 : 16)),
                 align = word(at + (is64 ? 48 : 28));
            if (!off || !size || !align) break;
            if (auto v = VersionNoteIn(src, *off, *size, *align)) return v;
        }
    }
    return std::nullopt;
}

std::optional<FileVersion> VersionOf(const ByteSource& src) {
    if (auto v = PeImage(src).version()) return v;
    return ElfVersion(src);
}

}  // namespace

std::optional<FileVersion> ReadFileVersion(const std::string& path) {
    FileSource src(path);
    if (!src.ok()) return std::nullopt;
    return VersionOf(src);
}

std::optional<FileVersion> ParseFileVersion(std::span<const std::uint8_t> image) {
    return VersionOf(MemorySource(image));
}

}  // namespace platform
