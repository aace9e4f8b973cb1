#pragma once
// How much a download may still write into a folder: the free space of its file system
// for an unprivileged user, and the largest file this process may make (RLIMIT_FSIZE).

#include <cstdint>
#include <string>

namespace platform {

// Bytes an unprivileged user may still write on the file system holding `path` (a file
// or folder that exists); -1 when that cannot be read.
std::int64_t AvailableBytes(const std::string& path);

// The largest file size this process may write; INT64_MAX when unlimited.
std::int64_t FileSizeLimit();

// Makes a write past the file-size limit fail with EFBIG instead of ending the process,
// so that a download can say why it stopped. Once per process; any thread.
void IgnoreFileSizeSignal();

}  // namespace platform
