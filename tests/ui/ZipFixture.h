#pragma once
// Builds small ZIP archives in memory for the package tests: stored or deflated entries,
// and hooks to damage them.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace uitest {

struct ZipFileSpec {
    std::string name;
    std::string data;
    bool deflate = true;
};

inline void Put16(std::vector<std::byte>& o, std::uint32_t v) {
    o.push_back(std::byte(v & 0xFF));
    o.push_back(std::byte((v >> 8) & 0xFF));
}
inline void Put32(std::vector<std::byte>& o, std::uint32_t v) {
    Put16(o, v & 0xFFFF);
    Put16(o, v >> 16);
}
inline void PutString(std::vector<std::byte>& o, const std::string& s) {
    for (char c : s) o.push_back(std::byte(static_cast<unsigned char>(c)));
}

inline std::string RawDeflate(const std::string& data) {
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, data.size()) + 16, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

inline std::vector<std::byte> MakeZip(const std::vector<ZipFileSpec>& files) {
    std::vector<std::byte> out;
    std::vector<std::byte> dir;
    for (const auto& f : files) {
        std::uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(f.data.data()), static_cast<uInt>(f.data.size()));
        bool isDir = !f.name.empty() && f.name.back() == '/';
        std::string packed = (f.deflate && !isDir) ? RawDeflate(f.data) : f.data;
        std::uint16_t method = (f.deflate && !isDir) ? 8 : 0;
        std::uint32_t offset = static_cast<std::uint32_t>(out.size());
        Put32(out, 0x04034b50);
        Put16(out, 20); Put16(out, 0); Put16(out, method); Put16(out, 0); Put16(out, 0);
        Put32(out, crc); Put32(out, static_cast<std::uint32_t>(packed.size()));
        Put32(out, static_cast<std::uint32_t>(f.data.size()));
        Put16(out, static_cast<std::uint32_t>(f.name.size())); Put16(out, 0);
        PutString(out, f.name);
        PutString(out, packed);

        Put32(dir, 0x02014b50);
        Put16(dir, 20); Put16(dir, 20); Put16(dir, 0); Put16(dir, method); Put16(dir, 0); Put16(dir, 0);
        Put32(dir, crc); Put32(dir, static_cast<std::uint32_t>(packed.size()));
        Put32(dir, static_cast<std::uint32_t>(f.data.size()));
        Put16(dir, static_cast<std::uint32_t>(f.name.size())); Put16(dir, 0); Put16(dir, 0);
        Put16(dir, 0); Put16(dir, 0); Put32(dir, isDir ? 0x10 : 0); Put32(dir, offset);
        PutString(dir, f.name);
    }
    std::uint32_t dirOffset = static_cast<std::uint32_t>(out.size());
    out.insert(out.end(), dir.begin(), dir.end());
    Put32(out, 0x06054b50);
    Put16(out, 0); Put16(out, 0);
    Put16(out, static_cast<std::uint32_t>(files.size())); Put16(out, static_cast<std::uint32_t>(files.size()));
    Put32(out, static_cast<std::uint32_t>(dir.size())); Put32(out, dirOffset);
    Put16(out, 0);
    return out;
}

}  // namespace uitest
