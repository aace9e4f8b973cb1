#include "src/language/LanguageFormat.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

namespace {

enum class ArgumentKind { ARG_NUMBER, ARG_TEXT };

// Longest width or precision accepted: two digits keep every rendering short.
constexpr std::size_t kMaxFieldDigits = 2;
// A format text longer than this is cut: no language text comes near it.
constexpr std::size_t kMaxFormatBytes = 4096;

struct Conversion {
    std::size_t length = 0;  // bytes from the '%' to the conversion character, inclusive
    std::string directive;        // the conversion as written, when it is acceptable
    bool acceptable = false; // of the expected kind and bounded
};

bool IsFlag(char c) { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0'; }

// Reads the conversion starting at format[pos] == '%'. `length` always covers what a printf
// would have taken as the conversion, so the rest of the text stays in place.
Conversion ReadConversion(std::string_view format, std::size_t pos, ArgumentKind kind) {
    Conversion conv;
    std::size_t i = pos + 1;
    bool bounded = true;
    while (i < format.size() && IsFlag(format[i])) ++i;
    auto digits = [&] {
        std::size_t start = i;
        while (i < format.size() && std::isdigit(static_cast<unsigned char>(format[i]))) ++i;
        if (i - start > kMaxFieldDigits) bounded = false;
    };
    if (i < format.size() && format[i] == '*') {
        bounded = false;  // the width would be read from an argument that is not there
        ++i;
    } else {
        digits();
    }
    if (i < format.size() && format[i] == '.') {
        ++i;
        if (i < format.size() && format[i] == '*') {
            bounded = false;
            ++i;
        } else {
            digits();
        }
    }
    std::size_t lengthStart = i;
    while (i < format.size() && std::string_view("hlLqjzt").find(format[i]) != std::string_view::npos) ++i;
    std::string_view lengthMod = format.substr(lengthStart, i - lengthStart);
    if (i >= format.size()) {  // a '%' the text ends in
        conv.length = format.size() - pos;
        return conv;
    }
    char c = format[i];
    conv.length = i - pos + 1;
    bool kindMatches = false;
    if (kind == ArgumentKind::ARG_NUMBER) {
        kindMatches = std::string_view("fFeEgGaA").find(c) != std::string_view::npos &&
                      (lengthMod.empty() || lengthMod == "l");
    } else {
        // "%s", and "%ls"/"%S" as a wide-character format would write it.
        kindMatches = (c == 's' && (lengthMod.empty() || lengthMod == "l")) || (c == 'S' && lengthMod.empty());
    }
    if (kindMatches && bounded) {
        conv.acceptable = true;
        // Drop the length modifier: the argument handed to snprintf is a double or a char*.
        conv.directive.assign(format.substr(pos, lengthStart - pos));
        conv.directive.push_back(c == 'S' ? 's' : c);
    }
    return conv;
}

std::string RenderNumber(const std::string& directive, double value) {
    char buffer[256];
    int n = std::snprintf(buffer, sizeof buffer, directive.c_str(), value);
    if (n < 0) return {};
    return std::string(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
}

std::string RenderText(const std::string& directive, std::string_view text) {
    const std::string arg(text);
    int n = std::snprintf(nullptr, 0, directive.c_str(), arg.c_str());
    if (n < 0) return arg;
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), directive.c_str(), arg.c_str());
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// One walk over the text; `render` gets the accepted conversion's directive, or nullopt for
// the plain rendering.
template <typename Render>
std::string FillOne(std::string_view format, ArgumentKind kind, Render render) {
    if (format.size() > kMaxFormatBytes) format = format.substr(0, kMaxFormatBytes);
    std::string out;
    out.reserve(format.size() + 16);
    bool filled = false;
    for (std::size_t i = 0; i < format.size();) {
        if (format[i] != '%') {
            out.push_back(format[i++]);
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out.push_back('%');
            i += 2;
            continue;
        }
        Conversion conv = ReadConversion(format, i, kind);
        if (!filled) {
            out += conv.acceptable ? render(std::optional<std::string>(conv.directive)) : render(std::nullopt);
            filled = true;
        } else {
            out.append(format.substr(i, conv.length));
        }
        i += conv.length;
    }
    return out;
}

std::string FillNumber(std::string_view format, double value, const char* plainSpec) {
    // Infinite and NaN render as printf renders them; nothing here depends on the value's size
    // beyond "%f" of a huge number, which the buffer of RenderNumber cuts.
    return FillOne(format, ArgumentKind::ARG_NUMBER, [&](const std::optional<std::string>& directive) {
        return RenderNumber(directive ? *directive : std::string(plainSpec), value);
    });
}

}  // namespace

std::string FormatProgressText(std::string_view format, double percent) { return FillNumber(format, percent, "%.0f"); }

std::string FormatSpaceFreeText(std::string_view format, double gigabytes) {
    return FillNumber(format, gigabytes, "%.1f");
}

std::string FormatSpaceNeedText(std::string_view format, std::string_view productSize) {
    return FillOne(format, ArgumentKind::ARG_TEXT, [&](const std::optional<std::string>& directive) {
        return directive ? RenderText(*directive, productSize) : std::string(productSize);
    });
}
