#include "ui/CImageCache.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/ProcessLogger.h"
#include "ui/CSkinPackage.h"

namespace SkinUI {

namespace {

std::string CacheKey(std::string_view file, TColor mask) {
    std::string key;
    key.reserve(file.size() + 10);
    for (char c : file) key.push_back(c == '\\' ? '/' : AsciiLower(c));
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "|%08X", static_cast<unsigned>(mask));
    return key + suffix;
}

bool ReadDiskFile(std::string_view file, std::vector<std::byte>& out) {
    std::error_code ec;
    std::filesystem::path path{std::string(file)};
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    auto size = std::filesystem::file_size(path, ec);
    if (ec || size == 0 || size > CSkinPackage::kMaxImageSize) return false;
    std::ifstream in(path, std::ios::binary);
    out.resize(static_cast<std::size_t>(size));
    return static_cast<bool>(in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size)));
}

}  // namespace

std::shared_ptr<const CImage> CImageCache::Get(std::string_view file, TColor mask) {
    if (file.empty()) return nullptr;
    if (auto it = registered_.find(file); it != registered_.end()) return it->second;
    std::string key = CacheKey(file, mask);
    if (auto it = decoded_.find(key); it != decoded_.end()) return it->second;

    std::vector<std::byte> bytes;
    bool read = package_ != nullptr &&
                package_->ReadBinary(file, CSkinPackage::kMaxImageSize, bytes) == PackageResult::PACKAGE_OK;
    if (!read && !(package_ != nullptr && package_->Contains(file))) read = ReadDiskFile(file, bytes);
    std::shared_ptr<const CImage> image = read ? CImage::Decode(bytes, mask) : nullptr;
    if (!image) LOG(INFO) << " Image not drawn, found nowhere or undecodable: " << file;
    decoded_.emplace(std::move(key), image);
    return image;
}

void CImageCache::Register(const std::string& name, std::shared_ptr<const CImage> image) {
    registered_[name] = std::move(image);
}

bool CImageCache::IsRegistered(std::string_view name) const { return registered_.find(name) != registered_.end(); }

bool CImageCache::Resolves(std::string_view file) const {
    if (file.empty()) return false;
    if (IsRegistered(file)) return true;
    if (package_ != nullptr && package_->Contains(file)) return true;
    std::error_code ec;
    return std::filesystem::is_regular_file(std::filesystem::path{std::string(file)}, ec);
}

}  // namespace SkinUI
