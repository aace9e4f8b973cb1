#pragma once
// The lenient markup reader the layout and language files are written for.
// Differences from strict XML, on which the shipped files rely: attribute values only in
// double quotes; the five predefined entities are decoded and any other "&" is kept as it
// stands; white space inside values (line breaks, tabs) is kept; comments, processing
// instructions and text between elements are skipped; only the first 64 attributes of an
// element are kept; a UTF-8 byte-order mark is skipped.
// Thread ownership: one reader per thread.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace SkinUI {

enum class MarkupError {
    MARKUP_OK,
    MARKUP_EXPECTED_START_TAG,
    MARKUP_ELEMENT_NAME,
    MARKUP_EXPECTED_START_TAG_CLOSING,
    MARKUP_EXPECTED_END_TAG_START,
    MARKUP_UNMATCHED_CLOSING_TAG,
    MARKUP_ATTRIBUTES,
    MARKUP_EXPECTED_ATTRIBUTE_VALUE,
    MARKUP_ATTRIBUTE_STRING,
    MARKUP_TOO_DEEP,
};

const char* to_string(MarkupError error);

struct TMarkupElement {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<std::size_t> children;  // indices into CMarkup::Elements()
    std::size_t line = 1;               // where the start tag begins

    // The value of the first attribute so named (exact), or null.
    const std::string* Attribute(std::string_view attrName) const;
};

class CMarkup {
public:
    static constexpr std::size_t kMaxAttributes = 64;
    static constexpr std::size_t kMaxDepth = 256;

    // Parses `text`; false leaves LastError and the place parsing stopped.
    bool Load(std::string_view text);

    const TMarkupElement* Root() const { return elements_.empty() ? nullptr : &elements_[0]; }
    const TMarkupElement& Element(std::size_t index) const { return elements_[index]; }
    const std::vector<TMarkupElement>& Elements() const { return elements_; }

    MarkupError LastError() const { return error_; }
    // 1-based line and column (in bytes) where parsing stopped.
    std::size_t ErrorLine() const { return errorLine_; }
    std::size_t ErrorColumn() const { return errorColumn_; }
    // "<error text> at line L, column C: <up to 20 characters from there>"
    std::string ErrorMessage() const;

private:
    bool Fail(MarkupError error, std::size_t at);
    void SkipWhitespace();
    bool SkipMisc();  // comments, processing instructions, declarations; false on an unterminated one
    bool ParseElement(std::size_t index, std::size_t depth);
    bool ParseAttributes(std::size_t index, bool& selfClosing);
    std::string DecodeValue(std::string_view raw) const;
    std::size_t LineAt(std::size_t at) const;

    std::string_view text_;
    std::size_t pos_ = 0;
    std::vector<TMarkupElement> elements_;
    MarkupError error_ = MarkupError::MARKUP_OK;
    std::size_t errorLine_ = 0;
    std::size_t errorColumn_ = 0;
    std::string errorContext_;
    mutable std::size_t lineCachePos_ = 0;
    mutable std::size_t lineCacheLine_ = 1;
};

}  // namespace SkinUI
