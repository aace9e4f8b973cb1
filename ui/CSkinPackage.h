#pragma once
// The skin package: every layout, language file and image the windows are built from.
// Normally the ZIP archive embedded in the executable, read in place; for designers the
// environment variable SETUP_SKIN_DIR names a folder to read instead (see ui/README.md).
// Both sources follow the same lookup: "\" and "/" are the same separator, ASCII letters
// compare without case, names of 256 or more characters are never found.
// Thread ownership: immutable once opened; any thread may read.

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ui/CZipArchive.h"

namespace SkinUI {

enum class PackageResult {
    PACKAGE_OK,
    PACKAGE_OPEN_FAILED,
    PACKAGE_NOT_FOUND,
    PACKAGE_EMPTY,
    PACKAGE_TOO_LARGE,
    PACKAGE_UNZIP_FAILED,
};

// The texts a failed read leaves as the builder's last error.
const char* to_string(PackageResult result);

class CSkinPackage {
public:
    static constexpr std::size_t kMaxNameLength = 256;          // code points; this long is too long
    static constexpr std::size_t kMaxTextSize = 4194304;        // layouts and language files
    static constexpr std::size_t kMaxImageSize = 32 * 1024 * 1024;
    static constexpr std::size_t kMaxFolderEntries = 20000;

    // The archive in `data`, which must outlive the package. Null when it is no archive.
    static std::unique_ptr<CSkinPackage> OpenMemory(std::span<const std::byte> data);
    // A folder laid out like the archive. Null when it is no readable folder.
    static std::unique_ptr<CSkinPackage> OpenFolder(const std::string& folder);

    // The process-wide package, opened on the first call and kept until the process ends:
    // the SETUP_SKIN_DIR folder when that variable is set and not empty, else the embedded
    // resource ("ZIPRES", 138). Null when neither can be opened. Safe from any thread.
    static CSkinPackage* Current();

    // Entry names in archive order (folder: sorted), directories ending in "/".
    std::vector<std::string> List() const;
    bool Contains(std::string_view name) const;

    // A layout or language file as UTF-8 text, a leading byte-order mark removed.
    PackageResult ReadText(std::string_view name, std::string& text) const;
    // Any entry's bytes, at most `limit` of them.
    PackageResult ReadBinary(std::string_view name, std::size_t limit, std::vector<std::byte>& out) const;

    bool IsFolder() const { return !folder_.empty(); }
    const std::string& Folder() const { return folder_; }

private:
    CSkinPackage() = default;
    // Index into the archive entries or folder files of the first name that matches.
    std::ptrdiff_t FindIndex(std::string_view name) const;

    CZipArchive archive_;
    std::string folder_;
    std::vector<std::string> folderEntries_;  // relative, "/" separated, dirs end in "/"
};

}  // namespace SkinUI
