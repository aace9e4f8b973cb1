#pragma once
// Well-known folders and the few file-system questions the installer asks.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// $TMPDIR (when set and not empty) or /tmp, as given, with a trailing '/'.
std::string TempDirectoryAsReported();
// The same folder in canonical form (symbolic links resolved), with a trailing '/'.
// Falls back to the reported form when the folder does not exist.
std::string TempDirectory();

// Where products are installed: /opt when this user may write there, else
// $HOME/.local/opt. No trailing '/'.
std::string ProgramsFolder();

// The XDG desktop folder ($XDG_CONFIG_HOME/user-dirs.dirs, XDG_DESKTOP_DIR), else
// $HOME/Desktop. No trailing '/'.
std::string DesktopFolder();

// The user's home folder ($HOME, else the password database); empty when unknown.
std::string HomeFolder();

// Bytes available to the calling (unprivileged) user on the file system that holds
// `path`, or that would hold it: the nearest existing ancestor is asked. A relative path
// is taken relative to the working directory. nullopt when nothing can be asked.
std::optional<std::uint64_t> FreeBytesForUser(const std::string& path);

// Creates `path` and every missing parent. True when it is a directory afterwards.
bool CreateDirectories(const std::string& path, std::string* error = nullptr);

struct DirectoryEntry {
    std::string name;
    bool isDirectory = false;  // a real directory, not a link to one
    bool isSymlink = false;
};
// The entries of a directory in the order the file system returns them, without "." and
// "..". nullopt when it cannot be opened. At most maxEntries entries are returned.
std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& path, std::size_t maxEntries = 100000);

// True when something other than a directory exists at `path` (links are followed).
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// Adds the execute bits wherever the read bits are set (chmod a+X style).
bool MakeExecutable(const std::string& path);

}  // namespace platform
