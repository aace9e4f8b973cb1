#pragma once
// POSIX locale names ("ll_CC[.codeset][@modifier]") to Windows language identifiers.

#include <cstdint>
#include <span>
#include <string_view>

namespace platform {

struct LocaleMapping {
    const char* language;   // ISO 639 code as locales spell it: "ja", "kok", "nb"
    const char* territory;  // ISO 3166 code: "JP"; "" for a language-only locale
    const char* modifier;   // "" or a modifier that selects a variant: "latin", "cyrillic"
    std::uint16_t langId;
};

// Every mapping, one row per (language, territory, modifier). The first row of a language is
// what that language means when its territory is missing or unknown.
std::span<const LocaleMapping> LocaleMappings();

// See platform/SystemFacts.h for the contract; declared here beside the table it reads.
std::uint16_t LangIdFromLocale(std::string_view locale);

}  // namespace platform
