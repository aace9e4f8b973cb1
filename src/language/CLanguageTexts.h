#pragma once
// The texts of the language files in a skin package. Each file is built once with the
// toolkit's layout builder (without a window), its named containers are copied out as
// plain (name, text) lists, and that copy is kept for the life of the object: the
// package does not change while the process runs, and the pipeline thread, message boxes
// and the window all read texts. A file that is missing or does not build is remembered
// as such and yields no texts.
//
// Thread ownership: any thread, any number at once. The cache is behind one mutex; the
// files it hands out are immutable.

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/language/LanguageTable.h"

namespace SkinUI {
class CSkinPackage;
}

struct TLanguageLabel {
    std::string name;
    std::string text;  // as written in the file, markup and format marks included
};

// One language file as the wizard reads it. Names compare without regard to ASCII letter
// case, as the toolkit's control lookup does; the first of two equal names wins.
struct TLanguageFile {
    struct TContainer {
        std::string name;
        std::vector<TLanguageLabel> labels;  // direct children, in file order
    };
    std::vector<TContainer> containers;  // every named container, in tree order

    // The labels of the first container of that name; null when the file has none.
    const std::vector<TLanguageLabel>* Container(std::string_view name) const;
    // The text of the first label `key` in container `container`; nullopt when either is missing.
    std::optional<std::string> Text(std::string_view container, std::string_view key) const;
};

class CLanguageTexts {
public:
    // `package` must outlive this object; null yields no texts.
    explicit CLanguageTexts(const SkinUI::CSkinPackage* package) : package_(package) {}
    CLanguageTexts(const CLanguageTexts&) = delete;
    CLanguageTexts& operator=(const CLanguageTexts&) = delete;

    // The texts of the process-wide skin package (SkinUI::CSkinPackage::Current()).
    static CLanguageTexts& Current();

    // The file of `languageIndex`, or null when the index is outside 0-19 or the file is
    // missing or does not build. `error` (optional) receives why.
    std::shared_ptr<const TLanguageFile> File(int languageIndex, std::string* error = nullptr) const;

    // The text of label `key` in container `container` of the language's file; empty when the
    // file, the container or the label is missing.
    std::string GetLanguageText(int languageIndex, std::string_view container, std::string_view key) const;

private:
    struct TEntry {
        bool loaded = false;
        std::shared_ptr<const TLanguageFile> file;
        std::string error;
    };

    const SkinUI::CSkinPackage* package_;
    mutable std::mutex lock_;
    mutable std::array<TEntry, kLanguageCount> entries_;  // under lock_
};

// GetLanguageText over the process-wide package: the form the pipeline, the overlay and
// the product start use.
std::string GetLanguageText(int languageIndex, std::string_view container, std::string_view key);
