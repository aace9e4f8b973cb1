#include "platform/LocaleTable.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "platform/SystemFacts.h"

namespace platform {
namespace {

// Rows are grouped by language; the first row of each language is its default.
// Beyond the identifiers the product's tables name, a few common locales (en_IN, es_US ...) map
// to their own identifiers so they are reported as themselves rather than as a neighbour.
constexpr LocaleMapping kMappings[] = {
    {"en", "US", "", 0x0409}, {"en", "GB", "", 0x0809}, {"en", "AU", "", 0x0C09},
    {"en", "CA", "", 0x1009}, {"en", "NZ", "", 0x1409}, {"en", "IE", "", 0x1809},
    {"en", "ZA", "", 0x1C09}, {"en", "JM", "", 0x2009}, {"en", "AG", "", 0x2409},
    {"en", "DM", "", 0x2409}, {"en", "BZ", "", 0x2809}, {"en", "TT", "", 0x2C09},
    {"en", "ZW", "", 0x3009}, {"en", "PH", "", 0x3409}, {"en", "IN", "", 0x4009},
    {"en", "MY", "", 0x4409}, {"en", "SG", "", 0x4809},

    {"ar", "SA", "", 0x0401}, {"ar", "IQ", "", 0x0801}, {"ar", "EG", "", 0x0C01},
    {"ar", "LY", "", 0x1001}, {"ar", "DZ", "", 0x1401}, {"ar", "MA", "", 0x1801},
    {"ar", "TN", "", 0x1C01}, {"ar", "OM", "", 0x2001}, {"ar", "YE", "", 0x2401},
    {"ar", "SY", "", 0x2801}, {"ar", "JO", "", 0x2C01}, {"ar", "LB", "", 0x3001},
    {"ar", "KW", "", 0x3401}, {"ar", "AE", "", 0x3801}, {"ar", "BH", "", 0x3C01},
    {"ar", "QA", "", 0x4001},

    {"zh", "CN", "", 0x0804}, {"zh", "TW", "", 0x0404}, {"zh", "HK", "", 0x0C04},
    {"zh", "SG", "", 0x1004}, {"zh", "MO", "", 0x1404},

    {"de", "DE", "", 0x0407}, {"de", "CH", "", 0x0807}, {"de", "AT", "", 0x0C07},
    {"de", "LU", "", 0x1007}, {"de", "LI", "", 0x1407},

    // Spain's modern identifier is the international sort; the traditional one stays reachable.
    {"es", "ES", "", 0x0C0A}, {"es", "ES", "traditional", 0x040A}, {"es", "MX", "", 0x080A},
    {"es", "GT", "", 0x100A}, {"es", "CR", "", 0x140A}, {"es", "PA", "", 0x180A},
    {"es", "DO", "", 0x1C0A}, {"es", "VE", "", 0x200A}, {"es", "CO", "", 0x240A},
    {"es", "PE", "", 0x280A}, {"es", "AR", "", 0x2C0A}, {"es", "EC", "", 0x300A},
    {"es", "CL", "", 0x340A}, {"es", "UY", "", 0x380A}, {"es", "PY", "", 0x3C0A},
    {"es", "BO", "", 0x400A}, {"es", "SV", "", 0x440A}, {"es", "HN", "", 0x480A},
    {"es", "NI", "", 0x4C0A}, {"es", "PR", "", 0x500A}, {"es", "US", "", 0x540A},

    {"fr", "FR", "", 0x040C}, {"fr", "BE", "", 0x080C}, {"fr", "CA", "", 0x0C0C},
    {"fr", "CH", "", 0x100C}, {"fr", "LU", "", 0x140C}, {"fr", "MC", "", 0x180C},

    {"it", "IT", "", 0x0410}, {"it", "CH", "", 0x0810},
    {"ja", "JP", "", 0x0411},
    // Johab is a codeset, not a modifier; the parser passes it as one.
    {"ko", "KR", "", 0x0412}, {"ko", "KR", "johab", 0x0812},
    {"nl", "NL", "", 0x0413}, {"nl", "BE", "", 0x0813},
    {"nb", "NO", "", 0x0414}, {"no", "NO", "", 0x0414}, {"nn", "NO", "", 0x0814},
    {"pt", "BR", "", 0x0416}, {"pt", "PT", "", 0x0816},
    {"ru", "RU", "", 0x0419},
    {"sv", "SE", "", 0x041D}, {"sv", "FI", "", 0x081D},
    {"ur", "PK", "", 0x0420}, {"ur", "IN", "", 0x0820},
    {"lt", "LT", "", 0x0427}, {"lt", "LT", "classic", 0x0827},
    {"ms", "MY", "", 0x043E}, {"ms", "BN", "", 0x083E},
    // glibc's sr_RS is Cyrillic and uz_UZ / az_AZ are Latin; modifiers pick the other script.
    {"sr", "RS", "", 0x0C1A}, {"sr", "RS", "latin", 0x081A}, {"sr", "CS", "", 0x0C1A},
    {"sr", "CS", "latin", 0x081A}, {"sr", "ME", "", 0x0C1A}, {"sr", "ME", "latin", 0x081A},
    {"az", "AZ", "", 0x042C}, {"az", "AZ", "latin", 0x042C}, {"az", "AZ", "cyrillic", 0x082C},
    {"uz", "UZ", "", 0x0443}, {"uz", "UZ", "latin", 0x0443}, {"uz", "UZ", "cyrillic", 0x0843},

    {"bg", "BG", "", 0x0402}, {"ca", "ES", "", 0x0403}, {"cs", "CZ", "", 0x0405},
    {"da", "DK", "", 0x0406}, {"el", "GR", "", 0x0408}, {"fi", "FI", "", 0x040B},
    {"he", "IL", "", 0x040D}, {"iw", "IL", "", 0x040D}, {"hu", "HU", "", 0x040E},
    {"is", "IS", "", 0x040F}, {"pl", "PL", "", 0x0415}, {"ro", "RO", "", 0x0418},
    {"hr", "HR", "", 0x041A}, {"sk", "SK", "", 0x041B}, {"sq", "AL", "", 0x041C},
    {"th", "TH", "", 0x041E}, {"tr", "TR", "", 0x041F}, {"id", "ID", "", 0x0421},
    {"in", "ID", "", 0x0421}, {"uk", "UA", "", 0x0422}, {"be", "BY", "", 0x0423},
    {"sl", "SI", "", 0x0424}, {"et", "EE", "", 0x0425}, {"lv", "LV", "", 0x0426},
    {"fa", "IR", "", 0x0429}, {"vi", "VN", "", 0x042A}, {"hy", "AM", "", 0x042B},
    {"eu", "ES", "", 0x042D}, {"mk", "MK", "", 0x042F}, {"af", "ZA", "", 0x0436},
    {"ka", "GE", "", 0x0437}, {"fo", "FO", "", 0x0438}, {"hi", "IN", "", 0x0439},
    {"kk", "KZ", "", 0x043F}, {"ky", "KG", "", 0x0440}, {"sw", "KE", "", 0x0441},
    {"tt", "RU", "", 0x0444}, {"bn", "IN", "", 0x0445}, {"pa", "IN", "", 0x0446},
    {"gu", "IN", "", 0x0447}, {"or", "IN", "", 0x0448}, {"ta", "IN", "", 0x0449},
    {"te", "IN", "", 0x044A}, {"kn", "IN", "", 0x044B}, {"ml", "IN", "", 0x044C},
    {"as", "IN", "", 0x044D}, {"mr", "IN", "", 0x044E}, {"sa", "IN", "", 0x044F},
    {"mn", "MN", "", 0x0450}, {"gl", "ES", "", 0x0456}, {"kok", "IN", "", 0x0457},
    {"syr", "SY", "", 0x045A}, {"dv", "MV", "", 0x0465},
};

constexpr std::size_t kMaxLocaleLength = 256;

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::span<const LocaleMapping> LocaleMappings() { return kMappings; }

std::uint16_t LangIdFromLocale(std::string_view locale) {
    if (locale.empty() || locale.size() > kMaxLocaleLength) return 0;

    // language[_territory][.codeset][@modifier]; BCP 47 style "ja-JP" is accepted as well.
    std::string_view modifier;
    if (auto at = locale.find('@'); at != std::string_view::npos) {
        modifier = locale.substr(at + 1);
        locale = locale.substr(0, at);
    }
    std::string_view codeset;
    if (auto dot = locale.find('.'); dot != std::string_view::npos) {
        codeset = locale.substr(dot + 1);
        locale = locale.substr(0, dot);
    }
    std::string_view language = locale;
    std::string_view territory;
    if (auto sep = locale.find_first_of("_-"); sep != std::string_view::npos) {
        language = locale.substr(0, sep);
        territory = locale.substr(sep + 1);
    }
    if (language.empty()) return 0;
    // The only codeset that names a distinct identifier.
    if (modifier.empty() && EqualsNoCase(codeset, "johab")) modifier = "johab";

    const std::string lang = Lower(language);
    const LocaleMapping* languageDefault = nullptr;
    const LocaleMapping* territoryMatch = nullptr;
    for (const auto& m : kMappings) {
        if (lang != m.language) continue;
        if (!languageDefault) languageDefault = &m;
        if (!EqualsNoCase(territory, m.territory)) continue;
        if (EqualsNoCase(modifier, m.modifier)) return m.langId;
        if (!territoryMatch && m.modifier[0] == '\0') territoryMatch = &m;
    }
    if (territoryMatch) return territoryMatch->langId;  // an unrelated modifier such as @euro
    return languageDefault ? languageDefault->langId : 0;
}

}  // namespace platform
