#pragma once
// Fixed tables keyed by Windows language identifier (LANGID). Their texts travel into logs and
// analytics exactly as written here, including their oddities ("Bokm?l", "Salvatore").

#include <cstdint>
#include <span>

namespace FuntionImpl {

struct LanguageNameEntry {
    std::uint16_t langId;
    const char* name;  // language, "_", country or region
};

struct CountryEntry {
    std::uint16_t langId;
    const char* countryName;
    int languageIndex;  // index into the wizard's 20-language list
};

std::span<const LanguageNameEntry> LanguageNameTable();  // 142 entries, ascending LANGID
std::span<const CountryEntry> CountryTable();            // 64 entries, grouped by language index

}  // namespace FuntionImpl
