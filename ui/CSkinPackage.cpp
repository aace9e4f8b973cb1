#include "ui/CSkinPackage.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>

#include "platform/ProcessLogger.h"
#include "platform/Resources.h"
#include "ui/UiTypes.h"

namespace SkinUI {

const char* to_string(PackageResult result) {
    switch (result) {
        case PackageResult::PACKAGE_OK: return "OK";
        case PackageResult::PACKAGE_OPEN_FAILED: return "Error opening zip file";
        case PackageResult::PACKAGE_NOT_FOUND: return "Could not find ziped file";
        case PackageResult::PACKAGE_EMPTY: return "File is empty";
        case PackageResult::PACKAGE_TOO_LARGE: return "File too large";
        case PackageResult::PACKAGE_UNZIP_FAILED: return "Could not unzip file";
    }
    return "Could not unzip file";
}

namespace {

// Compares a requested name with a stored one: separators alike, ASCII case ignored.
bool SameEntryName(std::string_view request, std::string_view stored) {
    if (request.size() != stored.size()) return false;
    for (std::size_t i = 0; i < request.size(); ++i) {
        char a = request[i] == '\\' ? '/' : AsciiLower(request[i]);
        char b = stored[i] == '\\' ? '/' : AsciiLower(stored[i]);
        if (a != b) return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<CSkinPackage> CSkinPackage::OpenMemory(std::span<const std::byte> data) {
    std::unique_ptr<CSkinPackage> package(new CSkinPackage);
    if (data.empty() || !package->archive_.Open(data)) return nullptr;
    return package;
}

std::unique_ptr<CSkinPackage> CSkinPackage::OpenFolder(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path root(folder);
    if (folder.empty() || !fs::is_directory(root, ec)) return nullptr;
    std::unique_ptr<CSkinPackage> package(new CSkinPackage);
    package->folder_ = root.lexically_normal().string();
    // Directory symlinks are not followed, so a link cannot pull in half the disk.
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
    if (ec) return nullptr;
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) break;
        if (package->folderEntries_.size() >= kMaxFolderEntries) {
            LOG(INFO) << " Skin folder holds too many files, the rest are ignored: " << folder;
            break;
        }
        const fs::path& p = it->path();
        std::string name = p.filename().string();
        if (!name.empty() && name.front() == '.') {
            if (it->is_directory(ec)) it.disable_recursion_pending();
            continue;
        }
        std::string rel = p.lexically_relative(root).generic_string();
        if (it->is_directory(ec)) {
            package->folderEntries_.push_back(rel + "/");
        } else if (it->is_regular_file(ec)) {
            package->folderEntries_.push_back(rel);
        }
    }
    std::sort(package->folderEntries_.begin(), package->folderEntries_.end());
    return package;
}

CSkinPackage* CSkinPackage::Current() {
    static std::once_flag once;
    static std::unique_ptr<CSkinPackage> current;
    std::call_once(once, [] {
        const char* dir = std::getenv("SETUP_SKIN_DIR");
        if (dir != nullptr && *dir != '\0') {
            current = OpenFolder(dir);
            if (current) {
                LOG(INFO) << " Skin package read from the folder [SETUP_SKIN_DIR]: " << dir;
            } else {
                LOG(INFO) << " [SETUP_SKIN_DIR] is no readable folder: " << dir;
            }
            return;
        }
        current = OpenMemory(platform::FindResource("ZIPRES", 138));
        if (!current) LOG(INFO) << " The embedded skin package is missing or unreadable";
    });
    return current.get();
}

std::vector<std::string> CSkinPackage::List() const {
    if (IsFolder()) return folderEntries_;
    std::vector<std::string> names;
    names.reserve(archive_.Entries().size());
    for (const auto& e : archive_.Entries()) names.emplace_back(e.name);
    return names;
}

std::ptrdiff_t CSkinPackage::FindIndex(std::string_view name) const {
    if (name.empty() || CodePointCount(name) >= kMaxNameLength) return -1;
    if (IsFolder()) {
        for (std::size_t i = 0; i < folderEntries_.size(); ++i) {
            if (SameEntryName(name, folderEntries_[i])) return static_cast<std::ptrdiff_t>(i);
        }
        return -1;
    }
    const auto& entries = archive_.Entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (SameEntryName(name, entries[i].name)) return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

bool CSkinPackage::Contains(std::string_view name) const { return FindIndex(name) >= 0; }

PackageResult CSkinPackage::ReadBinary(std::string_view name, std::size_t limit, std::vector<std::byte>& out) const {
    out.clear();
    std::ptrdiff_t index = FindIndex(name);
    if (index < 0) return PackageResult::PACKAGE_NOT_FOUND;

    if (IsFolder()) {
        const std::string& rel = folderEntries_[static_cast<std::size_t>(index)];
        if (rel.back() == '/') return PackageResult::PACKAGE_EMPTY;
        std::filesystem::path path = std::filesystem::path(folder_) / rel;
        std::error_code ec;
        auto size = std::filesystem::file_size(path, ec);
        if (ec) return PackageResult::PACKAGE_UNZIP_FAILED;
        if (size == 0) return PackageResult::PACKAGE_EMPTY;
        if (size > limit) return PackageResult::PACKAGE_TOO_LARGE;
        std::ifstream in(path, std::ios::binary);
        out.resize(static_cast<std::size_t>(size));
        if (!in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size))) {
            out.clear();
            return PackageResult::PACKAGE_UNZIP_FAILED;
        }
        return PackageResult::PACKAGE_OK;
    }

    const auto& entry = archive_.Entries()[static_cast<std::size_t>(index)];
    if (entry.size == 0) return PackageResult::PACKAGE_EMPTY;
    switch (archive_.Extract(static_cast<std::size_t>(index), limit, out)) {
        case CZipArchive::ExtractResult::OK: return PackageResult::PACKAGE_OK;
        case CZipArchive::ExtractResult::TOO_LARGE: return PackageResult::PACKAGE_TOO_LARGE;
        case CZipArchive::ExtractResult::CORRUPT: return PackageResult::PACKAGE_UNZIP_FAILED;
    }
    return PackageResult::PACKAGE_UNZIP_FAILED;
}

PackageResult CSkinPackage::ReadText(std::string_view name, std::string& text) const {
    text.clear();
    std::vector<std::byte> bytes;
    PackageResult result = ReadBinary(name, kMaxTextSize, bytes);
    if (result != PackageResult::PACKAGE_OK) return result;
    std::size_t skip = 0;
    if (bytes.size() >= 3 && bytes[0] == std::byte{0xEF} && bytes[1] == std::byte{0xBB} &&
        bytes[2] == std::byte{0xBF}) {
        skip = 3;
    }
    text.assign(reinterpret_cast<const char*>(bytes.data()) + skip, bytes.size() - skip);
    return PackageResult::PACKAGE_OK;
}

}  // namespace SkinUI
