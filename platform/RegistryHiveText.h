#pragma once
// One hive in memory and its REGEDIT5 text. No files, no locks: RegistryStore does those.
//
// The text is UTF-8:
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\SOFTWARE\Vendor]
//   @="default value"
//   "name"="text with \\ and \" escaped"
//   "lines"=hex(1):6c,00,0a,00,00,00          REG_SZ holding control characters (UTF-16LE + NUL)
//   "list"=hex(7):61,00,00,00,00,00           REG_MULTI_SZ (UTF-16LE, each element NUL-ended, then NUL)
//
// Long hex lists are wrapped as regedit wraps them (",\" and an indented next line). Lines
// end in CRLF when written; LF alone is accepted. Comments (";") and blank lines are skipped.
// Deletion entries ("[-...]", "=-") and any other malformed line make the whole text invalid.

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RegistryStore.h"

namespace platform {

class RegistryHiveText {
public:
    struct Key {
        std::string path;  // as first written; "" for the hive's root
        std::vector<RegistryValue> values;
    };

    explicit RegistryHiveText(RegistryHive hive);

    // Replaces the contents with the parsed text. On failure the contents are empty and
    // `error` says where and why ("line 7: ...").
    bool Parse(std::string_view text, std::string& error);
    std::string Serialize() const;

    // `key` must have passed RegistryStore::KeyPathError; a trailing "\" is ignored.
    const Key* FindKey(std::string_view key) const;
    Key* FindKey(std::string_view key);
    Key& CreateKey(std::string_view key);  // with missing parents
    bool DeleteKey(std::string_view key);  // with subkeys; false when missing
    std::vector<std::string> Subkeys(std::string_view key) const;

    static const RegistryValue* FindValue(const Key& key, std::string_view name);
    static RegistryValue& SetValue(Key& key, RegistryValue value);  // keeps an existing name's case
    static bool DeleteValue(Key& key, std::string_view name);

    static const char* RootName(RegistryHive hive);  // "HKEY_LOCAL_MACHINE" / "HKEY_CURRENT_USER"

private:
    static std::string SortKey(std::string_view key);

    RegistryHive hive_;
    std::map<std::string, Key> keys_;  // by SortKey: parents before children, case folded
};

// Text helpers shared by the store and the system helpers.
bool IsValidUtf8(std::string_view text);
std::size_t CountCodePoints(std::string_view utf8);  // of valid UTF-8
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

}  // namespace platform
