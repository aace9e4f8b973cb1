#pragma once
// The wizard's twenty interface languages, by language index (0-19): the name analytics
// events carry, the combo item, the language file in the skin package, the licence and
// product page controls of the main window's layout, and the values the installed product
// is told its language by. Pure data; safe from any thread.

#include <cstdint>
#include <span>
#include <string>

struct TLanguageInfo {
    int index;
    const char* name;            // "English", ... as in "ChangeLanguageTo" + name
    const char* comboItem;       // text of the language_combox item at this index
    const char* file;            // "language_english.xml", inside the package's "language" folder
    const char* licenseControl;  // control holding the licence text in this language
    int licenseHeight;           // height of license_text_layout, before the fixed 170 is added
    const char* installerValue;  // Inno Setup "/LANG=" value (Japanese: see InstallerLanguageValue)
    const char* innoRegistryValue;
    const char* nsisRegistryValue;  // LCID as text; empty for the languages NSIS installers lack
    const char* font;               // face of the slide captions in this language
    const char* productUrlControl;  // label of the main window's layout holding this language's product page
};

inline constexpr int kLanguageCount = 20;
inline constexpr int kLanguageEnglish = 0;
inline constexpr int kLanguageChinese = 2;
inline constexpr int kLanguageChineseTrad = 10;

// All rows, ordered by index.
std::span<const TLanguageInfo> LanguageTable();
// The row of `languageIndex`; null outside 0-19.
const TLanguageInfo* FindLanguage(int languageIndex);
// The row of `languageIndex`, English for any index outside the table.
const TLanguageInfo& LanguageOrEnglish(int languageIndex);

// Package entry of the language file: "language\language_english.xml". Empty outside 0-19.
std::string LanguageFileEntry(int languageIndex);

// Height given to license_text_layout: the table's height + 170. Simplified Chinese is
// 2000 + 170 for the sites 118 and 127, whose licence text is longer.
int LicenseLayoutHeight(int languageIndex, int siteId);

// Face name for the slide captions: "Meiryo UI" (1), "batang" (11), "Times New Roman"
// (3-9), "Microsoft YaHei" for every other index.
std::string FontForLanguage(int languageIndex);

// "/LANG=" value of the product installer. Japanese is "jp" for the downloader ids 117-120
// and 122-125, "ja" otherwise; an index outside the table gives "en".
std::string InstallerLanguageValue(int languageIndex, int downloaderId);
