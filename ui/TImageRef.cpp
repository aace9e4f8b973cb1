#include "ui/TImageRef.h"

namespace SkinUI {

TImageRef TImageRef::Parse(std::string_view text) {
    TImageRef ref;
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    if (text.find("='") == std::string_view::npos) {
        ref.file.assign(text);
        return ref;
    }
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsBlank(text[i])) ++i;
        std::size_t keyStart = i;
        while (i < text.size() && text[i] != '=' && !IsBlank(text[i])) ++i;
        std::string_view key = text.substr(keyStart, i - keyStart);
        if (i >= text.size() || text[i] != '=' || i + 1 >= text.size() || text[i + 1] != '\'') {
            // Not a key='value' pair: skip the word.
            while (i < text.size() && !IsBlank(text[i])) ++i;
            continue;
        }
        i += 2;
        std::size_t end = text.find('\'', i);
        if (end == std::string_view::npos) end = text.size();
        std::string_view value = text.substr(i, end - i);
        i = end + 1;
        if (key == "file") {
            ref.file.assign(value);
        } else if (key == "source") {
            ref.source = ParseRect(value);
        } else if (key == "dest") {
            ref.dest = ParseRect(value);
        } else if (key == "corner") {
            ref.corner = ParseRect(value);
        } else if (key == "mask") {
            ref.mask = ParseColor(value).value_or(0);
        }
    }
    return ref;
}

}  // namespace SkinUI
