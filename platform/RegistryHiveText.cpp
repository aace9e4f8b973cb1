#include "platform/RegistryHiveText.h"

#include <cstdint>

namespace platform {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kNewline = "\r\n";
constexpr char kSortSeparator = '\x01';  // sorts below every character a key name may hold
constexpr std::size_t kWrapColumn = 77;  // regedit keeps hex lines within 80 columns

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}
std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
}
std::string_view StripTrailingSeparators(std::string_view key) {
    while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
    return key;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = LowerAscii(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes one code point of valid UTF-8 at `i` and advances past it.
std::uint32_t NextCodePoint(std::string_view s, std::size_t& i) {
    auto b = static_cast<unsigned char>(s[i++]);
    if (b < 0x80) return b;
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
    std::uint32_t cp = b & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
    return cp;
}

// UTF-8 (valid) -> UTF-16LE bytes, without a terminator.
void AppendUtf16Le(std::vector<unsigned char>& out, std::string_view utf8) {
    auto put = [&out](std::uint32_t unit) {
        out.push_back(static_cast<unsigned char>(unit & 0xFF));
        out.push_back(static_cast<unsigned char>(unit >> 8));
    };
    for (std::size_t i = 0; i < utf8.size();) {
        std::uint32_t cp = NextCodePoint(utf8, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 | (cp >> 10));
            put(0xDC00 | (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
}

// UTF-16LE bytes -> UTF-8 pieces split at each NUL unit; data ending in a NUL leaves an
// empty last piece.
bool SplitUtf16Le(const std::vector<unsigned char>& bytes, std::vector<std::string>& pieces, std::string& error) {
    if (bytes.size() % 2 != 0) {
        error = "UTF-16 data has an odd number of bytes";
        return false;
    }
    pieces.assign(1, std::string());
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        std::uint32_t unit = bytes[i] | (bytes[i + 1] << 8);
        if (unit == 0) {
            pieces.emplace_back();
            continue;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            std::uint32_t low = (i + 3 < bytes.size()) ? (bytes[i + 2] | (bytes[i + 3] << 8)) : 0;
            if (low < 0xDC00 || low > 0xDFFF) {
                error = "UTF-16 data holds an unpaired surrogate";
                return false;
            }
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            error = "UTF-16 data holds an unpaired surrogate";
            return false;
        }
        AppendUtf8(pieces.back(), unit);
    }
    return true;
}

std::string Hex2(unsigned char b) {
    static const char* digits = "0123456789abcdef";
    return {digits[b >> 4], digits[b & 0x0F]};
}

// Appends "tag:xx,xx,..." to `line`, wrapping as regedit does.
void AppendHexList(std::string& line, std::string_view tag, const std::vector<unsigned char>& bytes) {
    line += tag;
    line += ':';
    std::size_t column = line.size() - (line.rfind('\n') == std::string::npos ? 0 : line.rfind('\n') + 1);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::string token = Hex2(bytes[i]);
        if (i + 1 < bytes.size()) token += ',';
        if (i > 0 && column + token.size() > kWrapColumn) {
            line += "\\";
            line += kNewline;
            line += "  ";
            column = 2;
        }
        line += token;
        column += token.size();
    }
}

bool ParseHexList(std::string_view body, std::vector<unsigned char>& bytes, std::string& error) {
    bytes.clear();
    body = TrimLeft(TrimRight(body));
    if (body.empty()) return true;
    std::size_t start = 0;
    while (true) {
        std::size_t comma = body.find(',', start);
        std::string_view token = TrimLeft(TrimRight(body.substr(start, comma == std::string_view::npos ? body.npos : comma - start)));
        if (token.empty() && comma == std::string_view::npos && !bytes.empty()) break;  // "..,xx," at the end
        if (token.empty() || token.size() > 2 || HexDigit(token[0]) < 0 ||
            (token.size() == 2 && HexDigit(token[1]) < 0)) {
            error = "bad byte \"" + std::string(token) + "\" in a hex list";
            return false;
        }
        bytes.push_back(static_cast<unsigned char>(token.size() == 2 ? HexDigit(token[0]) * 16 + HexDigit(token[1])
                                                                     : HexDigit(token[0])));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return true;
}

// Parses a quoted string at the start of `s` (which begins with '"'); `rest` gets what follows.
bool ParseQuoted(std::string_view s, std::string& out, std::string_view& rest, std::string& error) {
    out.clear();
    for (std::size_t i = 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            rest = s.substr(i + 1);
            return true;
        }
        if (c == '\\') {
            if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) {
                error = "unsupported escape in a quoted string (only \\\\ and \\\" are known)";
                return false;
            }
            c = s[++i];
        }
        out += c;
    }
    error = "unterminated quoted string";
    return false;
}

std::string Quote(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

// Quoted strings cannot carry line breaks and other control characters through regedit.
bool NeedsHexForm(std::string_view text) {
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7F) return true;
    }
    return false;
}

// "hex", "hex(7)", "hex(2)", ...; -1 when `tag` is not a hex tag, else the type number
// (3, REG_BINARY, for plain "hex").
int HexTagType(std::string_view tag) {
    if (tag.size() < 3 || LowerAscii(tag[0]) != 'h' || LowerAscii(tag[1]) != 'e' || LowerAscii(tag[2]) != 'x') return -1;
    if (tag.size() == 3) return 3;
    if (tag[3] != '(' || tag.back() != ')' || tag.size() < 6 || tag.size() > 13) return -1;
    int type = 0;
    for (char c : tag.substr(4, tag.size() - 5)) {
        if (HexDigit(c) < 0) return -1;
        type = type * 16 + HexDigit(c);
    }
    return type;
}

}  // namespace

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

bool IsValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        int extra;
        std::uint32_t min;
        if ((b & 0xE0) == 0xC0) {
            extra = 1, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, min = 0x10000;
        } else {
            return false;
        }
        if (s.size() - i < static_cast<std::size_t>(extra) + 1) return false;
        std::uint32_t cp = b & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

std::size_t CountCodePoints(std::string_view utf8) {
    std::size_t n = 0;
    for (char c : utf8) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    }
    return n;
}

RegistryHiveText::RegistryHiveText(RegistryHive hive) : hive_(hive) { keys_[""] = Key{}; }

const char* RegistryHiveText::RootName(RegistryHive hive) {
    switch (hive) {
        case RegistryHive::LocalMachine: return "HKEY_LOCAL_MACHINE";
        case RegistryHive::CurrentUser: return "HKEY_CURRENT_USER";
    }
    return "";
}

std::string RegistryHiveText::SortKey(std::string_view key) {
    key = StripTrailingSeparators(key);
    std::string out;
    out.reserve(key.size());
    for (char c : key) out += (c == '\\') ? kSortSeparator : LowerAscii(c);
    return out;
}

const RegistryHiveText::Key* RegistryHiveText::FindKey(std::string_view key) const {
    auto it = keys_.find(SortKey(key));
    return it == keys_.end() ? nullptr : &it->second;
}

RegistryHiveText::Key* RegistryHiveText::FindKey(std::string_view key) {
    auto it = keys_.find(SortKey(key));
    return it == keys_.end() ? nullptr : &it->second;
}

RegistryHiveText::Key& RegistryHiveText::CreateKey(std::string_view key) {
    key = StripTrailingSeparators(key);
    Key* current = &keys_[""];
    std::size_t start = 0;
    while (start < key.size()) {
        std::size_t end = key.find('\\', start);
        if (end == std::string_view::npos) end = key.size();
        auto [it, inserted] = keys_.try_emplace(SortKey(key.substr(0, end)));
        if (inserted) {
            it->second.path = current->path.empty() ? std::string(key.substr(start, end - start))
                                                    : current->path + "\\" + std::string(key.substr(start, end - start));
        }
        current = &it->second;
        start = end + 1;
    }
    return *current;
}

bool RegistryHiveText::DeleteKey(std::string_view key) {
    std::string sk = SortKey(key);
    if (sk.empty()) return false;
    auto it = keys_.find(sk);
    if (it == keys_.end()) return false;
    std::string childPrefix = sk + kSortSeparator;
    it = keys_.erase(it);
    while (it != keys_.end() && it->first.compare(0, childPrefix.size(), childPrefix) == 0) it = keys_.erase(it);
    return true;
}

std::vector<std::string> RegistryHiveText::Subkeys(std::string_view key) const {
    std::string sk = SortKey(key);
    std::string prefix = sk.empty() ? std::string() : sk + kSortSeparator;
    std::vector<std::string> names;
    for (auto it = keys_.lower_bound(prefix); it != keys_.end(); ++it) {
        if (it->first.compare(0, prefix.size(), prefix) != 0) break;
        std::string_view rest = std::string_view(it->first).substr(prefix.size());
        if (rest.empty() || rest.find(kSortSeparator) != std::string_view::npos) continue;
        const std::string& path = it->second.path;
        names.push_back(path.substr(path.rfind('\\') == std::string::npos ? 0 : path.rfind('\\') + 1));
    }
    return names;
}

const RegistryValue* RegistryHiveText::FindValue(const Key& key, std::string_view name) {
    for (const auto& v : key.values) {
        if (EqualsIgnoreAsciiCase(v.name, name)) return &v;
    }
    return nullptr;
}

RegistryValue& RegistryHiveText::SetValue(Key& key, RegistryValue value) {
    for (auto& v : key.values) {
        if (EqualsIgnoreAsciiCase(v.name, value.name)) {
            value.name = v.name;
            v = std::move(value);
            return v;
        }
    }
    key.values.push_back(std::move(value));
    return key.values.back();
}

bool RegistryHiveText::DeleteValue(Key& key, std::string_view name) {
    for (auto it = key.values.begin(); it != key.values.end(); ++it) {
        if (EqualsIgnoreAsciiCase(it->name, name)) {
            key.values.erase(it);
            return true;
        }
    }
    return false;
}

bool RegistryHiveText::Parse(std::string_view text, std::string& error) {
    keys_.clear();
    keys_[""] = Key{};
    auto fail = [&](std::size_t lineNo, const std::string& why) {
        keys_.clear();
        keys_[""] = Key{};
        error = lineNo ? "line " + std::to_string(lineNo) + ": " + why : why;
        return false;
    };
    if (!IsValidUtf8(text)) return fail(0, "not UTF-8 text");
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }

    bool headerSeen = false;
    Key* current = nullptr;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t lineNo = i + 1;
        std::string_view line = TrimLeft(TrimRight(lines[i]));
        if (line.empty() || line.front() == ';') continue;
        if (!headerSeen) {
            if (line != kHeader) return fail(lineNo, "expected \"" + std::string(kHeader) + "\"");
            headerSeen = true;
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']') return fail(lineNo, "key line does not end with ']'");
            std::string_view inner = line.substr(1, line.size() - 2);
            if (!inner.empty() && inner.front() == '-') return fail(lineNo, "key deletion entries are not supported");
            std::size_t sep = inner.find('\\');
            std::string_view root = inner.substr(0, sep);
            std::string_view path = sep == std::string_view::npos ? std::string_view() : inner.substr(sep + 1);
            if (!EqualsIgnoreAsciiCase(root, RootName(hive_))) {
                return fail(lineNo, "key outside " + std::string(RootName(hive_)));
            }
            if (sep != std::string_view::npos) {
                std::string why = RegistryStore::KeyPathError(path);
                if (!why.empty()) return fail(lineNo, why);
            }
            current = &CreateKey(path);
            continue;
        }
        if (!current) return fail(lineNo, "value outside any key");

        RegistryValue value;
        std::string_view rest;
        if (line.front() == '@') {
            rest = line.substr(1);
        } else if (line.front() == '"') {
            if (!ParseQuoted(line, value.name, rest, error)) return fail(lineNo, error);
        } else {
            return fail(lineNo, "expected a key, a value or a comment");
        }
        if (std::string why = RegistryStore::ValueNameError(value.name); !why.empty()) return fail(lineNo, why);
        rest = TrimLeft(rest);
        if (rest.empty() || rest.front() != '=') return fail(lineNo, "expected '=' after the value name");
        std::string_view data = TrimLeft(rest.substr(1));

        if (!data.empty() && data.front() == '"') {
            std::string_view after;
            if (!ParseQuoted(data, value.text, after, error)) return fail(lineNo, error);
            if (!TrimLeft(after).empty()) return fail(lineNo, "text after the closing quote");
            value.type = RegistryValueType::REG_VALUE_SZ;
        } else if (data == "-") {
            return fail(lineNo, "value deletion entries are not supported");
        } else {
            std::size_t colon = data.find(':');
            if (colon == std::string_view::npos) return fail(lineNo, "value data of an unknown form");
            std::string_view tag = data.substr(0, colon);
            std::string body(data.substr(colon + 1));
            if (EqualsIgnoreAsciiCase(tag, "dword")) {
                body = std::string(TrimLeft(TrimRight(body)));
                bool ok = body.size() == 8;
                for (char c : body) ok = ok && HexDigit(c) >= 0;
                if (!ok) return fail(lineNo, "dword data must be 8 hex digits");
                value.type = RegistryValueType::REG_VALUE_OTHER;
                value.text = "dword:" + body;
            } else {
                int type = HexTagType(tag);
                if (type < 0) return fail(lineNo, "unknown value type \"" + std::string(tag) + "\"");
                // A wrapped list continues on the next line after a trailing backslash.
                while (!TrimRight(body).empty() && TrimRight(body).back() == '\\') {
                    body = std::string(TrimRight(body));
                    body.pop_back();
                    if (++i >= lines.size()) return fail(lineNo, "hex list continues past the end of the file");
                    body += TrimLeft(TrimRight(lines[i]));
                }
                std::vector<unsigned char> bytes;
                if (!ParseHexList(body, bytes, error)) return fail(lineNo, error);
                if (type == 1 || type == 7) {
                    std::vector<std::string> pieces;
                    if (!SplitUtf16Le(bytes, pieces, error)) return fail(lineNo, error);
                    if (type == 1) {
                        value.type = RegistryValueType::REG_VALUE_SZ;
                        value.text = std::move(pieces.front());  // a REG_SZ ends at its first NUL
                    } else {
                        // Each element ends with a NUL and the list with one more: drop the
                        // empty piece after the last NUL, then the list's end. Every element
                        // before them, empty or not, is kept; so is an unterminated last one.
                        if (pieces.back().empty()) pieces.pop_back();
                        if (!pieces.empty() && pieces.back().empty()) pieces.pop_back();
                        value.type = RegistryValueType::REG_VALUE_MULTI_SZ;
                        value.strings = std::move(pieces);
                    }
                } else {
                    // Kept unwrapped in memory; Serialize wraps it again.
                    value.type = RegistryValueType::REG_VALUE_OTHER;
                    value.text = std::string(tag) + ":";
                    for (std::size_t b = 0; b < bytes.size(); ++b) value.text += (b ? "," : "") + Hex2(bytes[b]);
                }
            }
        }
        std::vector<std::string_view> texts;
        if (value.type == RegistryValueType::REG_VALUE_MULTI_SZ) {
            texts.assign(value.strings.begin(), value.strings.end());
        } else {
            texts.push_back(value.text);
        }
        if (std::string why = RegistryStore::ValueError(texts); !why.empty()) return fail(lineNo, why);
        SetValue(*current, std::move(value));
    }
    if (!headerSeen) return fail(0, "missing \"" + std::string(kHeader) + "\" header");
    error.clear();
    return true;
}

std::string RegistryHiveText::Serialize() const {
    std::string out(kHeader);
    out += kNewline;
    for (const auto& [sortKey, key] : keys_) {
        if (sortKey.empty() && key.values.empty()) continue;
        out += kNewline;
        out += '[';
        out += RootName(hive_);
        if (!key.path.empty()) out += "\\" + key.path;
        out += ']';
        out += kNewline;
        for (const auto& v : key.values) {
            std::string line = v.name.empty() ? "@=" : Quote(v.name) + "=";
            switch (v.type) {
                case RegistryValueType::REG_VALUE_SZ:
                    if (NeedsHexForm(v.text)) {
                        std::vector<unsigned char> bytes;
                        AppendUtf16Le(bytes, v.text);
                        bytes.insert(bytes.end(), {0, 0});
                        AppendHexList(line, "hex(1)", bytes);
                    } else {
                        line += Quote(v.text);
                    }
                    break;
                case RegistryValueType::REG_VALUE_MULTI_SZ: {
                    std::vector<unsigned char> bytes;
                    for (const auto& s : v.strings) {
                        AppendUtf16Le(bytes, s);
                        bytes.insert(bytes.end(), {0, 0});
                    }
                    bytes.insert(bytes.end(), {0, 0});
                    AppendHexList(line, "hex(7)", bytes);
                    break;
                }
                case RegistryValueType::REG_VALUE_OTHER: {
                    std::size_t colon = v.text.find(':');
                    std::vector<unsigned char> bytes;
                    std::string ignored;
                    if (HexTagType(v.text.substr(0, colon)) >= 0 && ParseHexList(v.text.substr(colon + 1), bytes, ignored)) {
                        AppendHexList(line, v.text.substr(0, colon), bytes);
                    } else {
                        line += v.text;
                    }
                    break;
                }
            }
            out += line;
            out += kNewline;
        }
    }
    return out;
}

}  // namespace platform
