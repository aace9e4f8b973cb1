#pragma once
// File operations the download engine needs beyond the C standard library: 64-bit seeks
// on a C stream, and replacing a small file so that a crash leaves either the old or the
// new contents, never a torn file.

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// Seeks `stream` to `offset` bytes from its start; offsets beyond 2 GiB work on every
// build. Returns false on failure.
bool SeekStream(std::FILE* stream, std::int64_t offset);

// Writes `contents` to a temporary file beside `path`, flushes it to the disk and renames
// it over `path`. On failure `path` is untouched and the temporary file is removed.
bool ReplaceFileAtomically(const std::string& path, const std::string& contents);

}  // namespace platform
