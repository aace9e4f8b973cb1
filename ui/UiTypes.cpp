#include "ui/UiTypes.h"

#include <algorithm>

namespace SkinUI {

TRect TRect::Intersect(const TRect& o) const {
    TRect r{std::max(left, o.left), std::max(top, o.top), std::min(right, o.right), std::min(bottom, o.bottom)};
    if (r.IsEmpty()) return {};
    return r;
}

TRect TRect::Union(const TRect& o) const {
    if (IsEmpty()) return o;
    if (o.IsEmpty()) return *this;
    return {std::min(left, o.left), std::min(top, o.top), std::max(right, o.right), std::max(bottom, o.bottom)};
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string_view Trim(std::string_view t) {
    while (!t.empty() && IsBlank(t.front())) t.remove_prefix(1);
    while (!t.empty() && IsBlank(t.back())) t.remove_suffix(1);
    return t;
}

// Reads one integer at `t`, advancing past it; returns false when there is none.
bool ReadInt(std::string_view& t, int& out) {
    t = Trim(t);
    bool negative = false;
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
    if (i >= t.size() || t[i] < '0' || t[i] > '9') return false;
    long long v = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
        if (v < 1000000) v = v * 10 + (t[i] - '0');
        ++i;
    }
    v = std::min<long long>(v, 1000000);
    out = static_cast<int>(negative ? -v : v);
    t.remove_prefix(i);
    return true;
}

}  // namespace

std::optional<TColor> ParseColor(std::string_view text) {
    text = Trim(text);
    if (text.empty() || text.front() != '#') return std::nullopt;
    text.remove_prefix(1);
    if (text.size() != 6 && text.size() != 8) return std::nullopt;
    TColor v = 0;
    for (char c : text) {
        int d = HexDigit(c);
        if (d < 0) return std::nullopt;
        v = (v << 4) | static_cast<TColor>(d);
    }
    if (text.size() == 6) v |= 0xFF000000u;
    return v;
}

TRect ParseRect(std::string_view text) {
    int v[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        if (!ReadInt(text, v[i])) break;
        text = Trim(text);
        if (text.empty() || text.front() != ',') break;
        text.remove_prefix(1);
    }
    return {v[0], v[1], v[2], v[3]};
}

TSize ParseSize(std::string_view text) {
    TRect r = ParseRect(text);
    return {r.left, r.top};
}

int ParseInt(std::string_view text, int fallback) {
    int v = 0;
    return ReadInt(text, v) ? v : fallback;
}

bool ParseBool(std::string_view text) { return AsciiEqualNoCase(Trim(text), "true"); }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string AsciiLowerCopy(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = AsciiLower(c);
    return out;
}

bool AsciiEqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

std::size_t Utf8SequenceLength(unsigned char c) {
    if (c < 0x80) return 1;
    if ((c & 0xE0) == 0xC0) return 2;
    if ((c & 0xF0) == 0xE0) return 3;
    if ((c & 0xF8) == 0xF0) return 4;
    return 1;
}

std::size_t CodePointCount(std::string_view text) {
    std::size_t n = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++n;
    }
    return n;
}

}  // namespace SkinUI
