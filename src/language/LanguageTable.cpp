#include "src/language/LanguageTable.h"

namespace {

constexpr TLanguageInfo kLanguages[kLanguageCount] = {
    {0, "English", " English", "language_english.xml", "license_english", 1370, "en", "en", "1033",
     "Microsoft YaHei", "product_url_english"},
    {1, "Japanese", " \u65E5\u672C\u8A9E", "language_japanese.xml", "license_japanese", 1320, "ja", "ja", "1041",
     "Meiryo UI", "product_url_japanese"},
    // The Simplified Chinese LCID is the one the product's NSIS installers were built with,
    // not 2052; likewise 32772 for Traditional Chinese.
    {2, "Chinese", " \u7B80\u4F53\u4E2D\u6587", "language_chinese.xml", "license_chinese", 1095, "zhcn", "zhcn", "1028",
     "Microsoft YaHei", "product_url_chinesesimp"},
    {3, "Spanish", " Espa\u00F1ol", "language_spanish.xml", "license_spanish", 1440, "es", "es", "1034",
     "Times New Roman", "product_url_spanish"},
    {4, "German", " Deutsch", "language_german.xml", "license_german", 1485, "de", "de", "1031",
     "Times New Roman", "product_url_german"},
    {5, "French", " Fran\u00E7ais", "language_french.xml", "license_french", 1410, "fr", "fr", "1036",
     "Times New Roman", "product_url_french"},
    {6, "Russian", " \u0420\u0443\u0441\u0441\u043A\u0438\u0439", "language_russian.xml", "license_russian", 1445, "ru",
     "ru", "1049", "Times New Roman", "product_url_russian"},
    {7, "Portuguese", " Portugu\u00EAs", "language_portuguese.xml", "license_portuguese", 1295, "pt", "pt", "1046",
     "Times New Roman", "product_url_portuguese"},
    {8, "Arabic", " \u0627\u0644\u0639\u0631\u0628\u064A\u0629", "language_arabic.xml", "license_arabic", 1195, "ar",
     "ar", "1025", "Times New Roman", "product_url_arabic"},
    {9, "Italiano", " Italiano", "language_italiano.xml", "license_italiano", 1345, "it", "it", "1040",
     "Times New Roman", "product_url_italiano"},
    {10, "ChineseTrad", " \u7E41\u9AD4\u4E2D\u6587", "language_chinesetrad.xml", "license_chinesetrad", 1095, "zhtw",
     "zhtw", "32772", "Microsoft YaHei", "product_url_chinesetrad"},
    {11, "Korean", " \uD55C\uAD6D\uC5B4", "language_korean.xml", "license_korean", 1175, "ko", "ko", "",
     "batang", "product_url_korean"},
    {12, "Nederlands", " Nederlands", "language_nederland.xml", "license_nederlands", 1485, "nl", "nl", "",
     "Microsoft YaHei", "product_url_nederlands"},
    {13, "Indonesian", " Bahasa Indonesia", "language_indonesian.xml", "license_indonesian", 1370, "id", "id", "",
     "Microsoft YaHei", "product_url_indonesian"},
    {14, "Turkish", " T\u00FCrk\u00E7e", "language_turkish.xml", "license_turkish", 1370, "tr", "tr", "",
     "Microsoft YaHei", "product_url_turkish"},
    {15, "Hindi", "    \u0939\u093F\u0902\u0926\u0940", "language_hindi.xml", "license_hindi", 1370, "hi", "hi", "",
     "Microsoft YaHei", "product_url_hindi"},
    {16, "Thai", "    \u0E20\u0E32\u0E29\u0E32\u0E44\u0E17\u0E22", "language_thai.xml", "license_thai", 1175, "th",
     "th", "", "Microsoft YaHei", "product_url_thai"},
    {17, "Malay", " Bahasa Melayu", "language_malay.xml", "license_malay", 1410, "my", "my", "",
     "Microsoft YaHei", "product_url_malay"},
    {18, "Swedish", " Svenska", "language_swedish.xml", "license_swedish", 1410, "se", "se", "",
     "Microsoft YaHei", "product_url_swedish"},
    {19, "Czech", " \u010Ce\u0161tina", "language_czech.xml", "license_czech", 1410, "cz", "cz", "",
     "Microsoft YaHei", "product_url_czech"},
};

constexpr int kLicenseLayoutExtra = 170;
constexpr int kLongChineseLicenseHeight = 2000;

}  // namespace

std::span<const TLanguageInfo> LanguageTable() { return kLanguages; }

const TLanguageInfo* FindLanguage(int languageIndex) {
    if (languageIndex < 0 || languageIndex >= kLanguageCount) return nullptr;
    return &kLanguages[languageIndex];
}

const TLanguageInfo& LanguageOrEnglish(int languageIndex) {
    const TLanguageInfo* info = FindLanguage(languageIndex);
    return info ? *info : kLanguages[kLanguageEnglish];
}

std::string LanguageFileEntry(int languageIndex) {
    const TLanguageInfo* info = FindLanguage(languageIndex);
    return info ? std::string("language\\") + info->file : std::string();
}

int LicenseLayoutHeight(int languageIndex, int siteId) {
    const TLanguageInfo& info = LanguageOrEnglish(languageIndex);
    if (info.index == kLanguageChinese && (siteId == 118 || siteId == 127))
        return kLongChineseLicenseHeight + kLicenseLayoutExtra;
    return info.licenseHeight + kLicenseLayoutExtra;
}

std::string FontForLanguage(int languageIndex) {
    // Every index outside the table gets the face of the CJK-capable default.
    const TLanguageInfo* info = FindLanguage(languageIndex);
    return info ? info->font : "Microsoft YaHei";
}

std::string InstallerLanguageValue(int languageIndex, int downloaderId) {
    const TLanguageInfo* info = FindLanguage(languageIndex);
    if (info == nullptr) return "en";
    if (languageIndex == 1) {
        switch (downloaderId) {
            case 117: case 118: case 119: case 120: case 122: case 123: case 124: case 125:
                return "jp";
            default:
                return "ja";
        }
    }
    return info->installerValue;
}
