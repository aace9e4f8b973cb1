#include "ui/CMarkup.h"

#include <algorithm>
#include <cstring>

namespace SkinUI {

const char* to_string(MarkupError error) {
    switch (error) {
        case MarkupError::MARKUP_OK: return "OK";
        case MarkupError::MARKUP_EXPECTED_START_TAG: return "Expected start tag";
        case MarkupError::MARKUP_ELEMENT_NAME: return "Error parsing element name";
        case MarkupError::MARKUP_EXPECTED_START_TAG_CLOSING: return "Expected start-tag closing";
        case MarkupError::MARKUP_EXPECTED_END_TAG_START: return "Expected end-tag start";
        case MarkupError::MARKUP_UNMATCHED_CLOSING_TAG: return "Unmatched closing tag";
        case MarkupError::MARKUP_ATTRIBUTES: return "Error while parsing attributes";
        case MarkupError::MARKUP_EXPECTED_ATTRIBUTE_VALUE: return "Expected attribute value";
        case MarkupError::MARKUP_ATTRIBUTE_STRING: return "Error while parsing attribute string";
        case MarkupError::MARKUP_TOO_DEEP: return "Elements nested too deeply";
    }
    return "Expected start tag";
}

const std::string* TMarkupElement::Attribute(std::string_view attrName) const {
    for (const auto& [n, v] : attributes) {
        if (n == attrName) return &v;
    }
    return nullptr;
}

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool EndsName(char c) { return IsSpace(c) || c == '/' || c == '>' || c == '=' || c == '<' || c == '"'; }

}  // namespace

bool CMarkup::Load(std::string_view text) {
    text_ = text;
    pos_ = 0;
    lineCachePos_ = 0;
    lineCacheLine_ = 1;
    elements_.clear();
    error_ = MarkupError::MARKUP_OK;
    errorLine_ = errorColumn_ = 0;
    errorContext_.clear();
    if (text_.size() >= 3 && std::memcmp(text_.data(), "\xEF\xBB\xBF", 3) == 0) pos_ = 3;

    for (;;) {
        SkipWhitespace();
        if (pos_ + 1 < text_.size() && text_[pos_] == '<' && (text_[pos_ + 1] == '?' || text_[pos_ + 1] == '!')) {
            if (!SkipMisc()) return Fail(MarkupError::MARKUP_EXPECTED_START_TAG, pos_);
            continue;
        }
        break;
    }
    if (pos_ >= text_.size() || text_[pos_] != '<') return Fail(MarkupError::MARKUP_EXPECTED_START_TAG, pos_);
    ++pos_;
    elements_.emplace_back();
    elements_[0].line = LineAt(pos_ - 1);
    if (!ParseElement(0, 1)) {
        elements_.clear();
        return false;
    }
    // Whatever follows the root element is not read.
    return true;
}

void CMarkup::SkipWhitespace() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
}

bool CMarkup::SkipMisc() {
    std::string_view rest = text_.substr(pos_);
    std::size_t end;
    if (rest.starts_with("<!--")) {
        end = rest.find("-->", 4);
        if (end == std::string_view::npos) return false;
        pos_ += end + 3;
    } else if (rest.starts_with("<?")) {
        end = rest.find("?>", 2);
        if (end == std::string_view::npos) return false;
        pos_ += end + 2;
    } else {  // <!DOCTYPE ...>, <![CDATA[ ... are skipped to their '>'
        end = rest.find('>', 2);
        if (end == std::string_view::npos) return false;
        pos_ += end + 1;
    }
    return true;
}

// Called with pos_ just after '<'; on success pos_ is after the element's end.
bool CMarkup::ParseElement(std::size_t index, std::size_t depth) {
    if (depth > kMaxDepth) return Fail(MarkupError::MARKUP_TOO_DEEP, pos_);
    std::size_t nameStart = pos_;
    while (pos_ < text_.size() && !EndsName(text_[pos_])) ++pos_;
    if (pos_ == nameStart) return Fail(MarkupError::MARKUP_ELEMENT_NAME, pos_);
    elements_[index].name.assign(text_.substr(nameStart, pos_ - nameStart));

    bool selfClosing = false;
    if (!ParseAttributes(index, selfClosing)) return false;
    if (selfClosing) return true;

    // Content: children, skipped text, comments, up to the matching end tag.
    for (;;) {
        while (pos_ < text_.size() && text_[pos_] != '<') ++pos_;
        if (pos_ >= text_.size()) return Fail(MarkupError::MARKUP_EXPECTED_END_TAG_START, pos_);
        if (pos_ + 1 < text_.size() && (text_[pos_ + 1] == '!' || text_[pos_ + 1] == '?')) {
            if (!SkipMisc()) return Fail(MarkupError::MARKUP_EXPECTED_END_TAG_START, text_.size());
            continue;
        }
        if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '/') {
            std::size_t closeAt = pos_;
            pos_ += 2;
            std::size_t start = pos_;
            while (pos_ < text_.size() && !EndsName(text_[pos_])) ++pos_;
            if (text_.substr(start, pos_ - start) != elements_[index].name) {
                return Fail(MarkupError::MARKUP_UNMATCHED_CLOSING_TAG, closeAt);
            }
            SkipWhitespace();
            if (pos_ >= text_.size() || text_[pos_] != '>') {
                return Fail(MarkupError::MARKUP_UNMATCHED_CLOSING_TAG, closeAt);
            }
            ++pos_;
            return true;
        }
        ++pos_;
        std::size_t child = elements_.size();
        elements_.emplace_back();
        elements_[child].line = LineAt(pos_ - 1);
        elements_[index].children.push_back(child);
        if (!ParseElement(child, depth + 1)) return false;
    }
}

bool CMarkup::ParseAttributes(std::size_t index, bool& selfClosing) {
    for (;;) {
        SkipWhitespace();
        if (pos_ >= text_.size()) return Fail(MarkupError::MARKUP_EXPECTED_START_TAG_CLOSING, pos_);
        char c = text_[pos_];
        if (c == '>') {
            ++pos_;
            return true;
        }
        if (c == '/') {
            ++pos_;
            if (pos_ >= text_.size() || text_[pos_] != '>') {
                return Fail(MarkupError::MARKUP_EXPECTED_START_TAG_CLOSING, pos_);
            }
            ++pos_;
            selfClosing = true;
            return true;
        }
        std::size_t nameStart = pos_;
        while (pos_ < text_.size() && !EndsName(text_[pos_])) ++pos_;
        if (pos_ == nameStart) return Fail(MarkupError::MARKUP_ATTRIBUTES, pos_);
        std::string_view attrName = text_.substr(nameStart, pos_ - nameStart);
        SkipWhitespace();
        if (pos_ >= text_.size() || text_[pos_] != '=') return Fail(MarkupError::MARKUP_ATTRIBUTES, pos_);
        ++pos_;
        SkipWhitespace();
        if (pos_ >= text_.size() || text_[pos_] != '"') return Fail(MarkupError::MARKUP_EXPECTED_ATTRIBUTE_VALUE, pos_);
        std::size_t valueStart = ++pos_;
        std::size_t valueEnd = text_.find('"', valueStart);
        if (valueEnd == std::string_view::npos) return Fail(MarkupError::MARKUP_ATTRIBUTE_STRING, valueStart);
        pos_ = valueEnd + 1;
        auto& attrs = elements_[index].attributes;
        if (attrs.size() < kMaxAttributes) {
            attrs.emplace_back(std::string(attrName), DecodeValue(text_.substr(valueStart, valueEnd - valueStart)));
        }
    }
}

std::string CMarkup::DecodeValue(std::string_view raw) const {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size();) {
        if (raw[i] == '&') {
            bool decoded = false;
            for (const auto& [entity, ch] : kEntities) {
                if (raw.substr(i).starts_with(entity)) {
                    out.push_back(ch);
                    i += entity.size();
                    decoded = true;
                    break;
                }
            }
            if (decoded) continue;
        }
        out.push_back(raw[i++]);
    }
    return out;
}

std::size_t CMarkup::LineAt(std::size_t at) const {
    at = std::min(at, text_.size());
    // Elements are met in text order, so counting on from the last answer keeps this linear.
    if (at < lineCachePos_) {
        lineCachePos_ = 0;
        lineCacheLine_ = 1;
    }
    lineCacheLine_ += static_cast<std::size_t>(std::count(text_.begin() + static_cast<std::ptrdiff_t>(lineCachePos_),
                                                          text_.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
    lineCachePos_ = at;
    return lineCacheLine_;
}

bool CMarkup::Fail(MarkupError error, std::size_t at) {
    at = std::min(at, text_.size());
    error_ = error;
    errorLine_ = LineAt(at);
    std::size_t newline = at == 0 ? std::string_view::npos : text_.rfind('\n', at - 1);
    std::size_t lineStart = newline == std::string_view::npos ? 0 : newline + 1;
    errorColumn_ = at - lineStart + 1;
    // A short, single-line excerpt: it ends up in log lines and tool output.
    errorContext_.clear();
    for (char c : text_.substr(at, 20)) {
        if (c == '\n' || c == '\r') break;
        errorContext_.push_back(static_cast<unsigned char>(c) < 0x20 ? '?' : c);
    }
    return false;
}

std::string CMarkup::ErrorMessage() const {
    if (error_ == MarkupError::MARKUP_OK) return {};
    std::string msg = to_string(error_);
    msg += " at line " + std::to_string(errorLine_) + ", column " + std::to_string(errorColumn_);
    if (!errorContext_.empty()) msg += ": " + errorContext_;
    return msg;
}

}  // namespace SkinUI
