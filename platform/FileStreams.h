#pragma once
// File operations the download engine needs beyond the C standard library: 64-bit seeks
// on a C stream, and replacing a small file so that a crash leaves either the old or the
// new contents, never a torn file.
//
// Every open here refuses a symbolic link at the path itself (O_NOFOLLOW) and anything
// that is not a regular file: the files Setup writes and reads back (the download, its
// task file, the verification record, the log) live in a folder of its own, and a link
// planted there would make root write or trust a file of someone else's choosing.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace platform {

// Seeks `stream` to `offset` bytes from its start; offsets beyond 2 GiB work on every
// build. Returns false on failure.
bool SeekStream(std::FILE* stream, std::int64_t offset);

// Writes `contents` to a temporary file beside `path`, flushes it to the disk and renames
// it over `path`. On failure `path` is untouched and the temporary file is removed.
// A link at `path` is replaced, never followed.
bool ReplaceFileAtomically(const std::string& path, const std::string& contents);

// Opens an existing regular file for reading ("rb"). nullptr (errno set) for a link, a
// missing file or anything but a regular file.
std::FILE* OpenForReading(const std::string& path);

// Opens the download file for reading and writing: an existing regular file as it is
// (its owner's write bit given back when a verified installer was left read-only), else a
// new file created exclusively. nullptr (errno set) for a link or a non-regular file.
std::FILE* OpenForUpdate(const std::string& path);

// At most `maxBytes` of a regular file, from its start; `truncated` tells whether more
// followed. nullopt for a link, a missing or unreadable file, or a non-regular one.
std::optional<std::string> ReadFilePrefix(const std::string& path, std::size_t maxBytes, bool* truncated = nullptr);

// Makes sure `path` is a regular file this process can append to, creating it (0600)
// when missing. False for a link or anything else.
bool PrepareAppendFile(const std::string& path);
// The same file opened for appending ("a"); nullptr (errno set) where PrepareAppendFile fails.
std::FILE* OpenForAppending(const std::string& path);

// True when a regular file (not a link to one) is at `path`.
bool RegularFileExists(const std::string& path);

// What makes a file the one that was checked: a replaced, rewritten or truncated file
// differs in at least one of these.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t mtimeSeconds = 0;
    std::int64_t mtimeNanoseconds = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the regular file at `path` (a link is not followed); nullopt otherwise.
std::optional<FileIdentity> IdentityOf(const std::string& path);

// Takes every write bit off the regular file at `path` and leaves its owner read and
// execute (0500), so that nothing of this user rewrites a checked installer by mistake.
// Its identity is unchanged. False for a link or a non-regular file.
bool MakeReadOnly(const std::string& path);

}  // namespace platform
