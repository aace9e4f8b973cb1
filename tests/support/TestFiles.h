#pragma once
// Whole-file reads and writes for tests, where a short read or a failed write shows up as
// a failed expectation on the contents rather than as an exception.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

namespace qvtest {

// The bytes of `path`; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    // In blocks: a character at a time takes seconds for the tests' files of many MiB.
    std::string bytes;
    char block[1 << 16];
    while (in.read(block, sizeof block) || in.gcount() > 0) bytes.append(block, static_cast<std::size_t>(in.gcount()));
    return bytes;
}

// Replaces `path` by `bytes`, making its folder first when it is missing.
inline void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
    std::error_code ignored;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace qvtest
