#pragma once
// The version a file carries about itself: the fixed file information of a PE file's version
// resource, or the version note our build links into its ELF executables. Files come from
// anywhere (a download, a user's folder), so the readers trust no offset or size they find.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace platform {

struct FileVersion {
    std::uint32_t major = 0, minor = 0, patch = 0, build = 0;
    friend bool operator==(const FileVersion&, const FileVersion&) = default;
};

// nullopt when the file cannot be read, is neither PE nor ELF, or has no version.
std::optional<FileVersion> ReadFileVersion(const std::string& path);

// The same over bytes already in memory.
std::optional<FileVersion> ParseFileVersion(std::span<const std::uint8_t> image);

}  // namespace platform
