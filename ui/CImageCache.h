#pragma once
// The images of one window: decoded once per (entry, mask) and kept for the window's life,
// plus pictures registered under a name at run time (the slide strip and its frames).
// Lookup order: registered names, the skin package, then the reference as a path on disk.
// A reference found nowhere is remembered as missing and draws nothing.
// Thread ownership: window thread.

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "ui/CImage.h"

namespace SkinUI {

class CSkinPackage;

class CImageCache {
public:
    explicit CImageCache(const CSkinPackage* package) : package_(package) {}

    // Null when the image is found nowhere or cannot be decoded.
    std::shared_ptr<const CImage> Get(std::string_view file, TColor mask = 0);
    void Register(const std::string& name, std::shared_ptr<const CImage> image);
    bool IsRegistered(std::string_view name) const;
    // True when Get would find something to decode, without decoding it.
    bool Resolves(std::string_view file) const;

private:
    const CSkinPackage* package_;
    std::map<std::string, std::shared_ptr<const CImage>, std::less<>> registered_;
    std::map<std::string, std::shared_ptr<const CImage>, std::less<>> decoded_;  // null = missing
};

}  // namespace SkinUI
