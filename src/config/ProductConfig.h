#pragma once
// The product configuration record: which product the installer fetches, where its full
// installer can be downloaded, its size and checksums, and the identifiers the maker's
// web service knows this installer by. Text is UTF-8. Filled by CConfigure.

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

enum ConfigLoadState { CONFIG_NOT_LOADED = 1, CONFIG_LOADED = 2 };
enum ConfigLoadSource { CONFIG_SOURCE_NOTHING = 0, CONFIG_SOURCE_SERVICE = 1, CONFIG_SOURCE_SKIN = 2 };

struct ProductConfig {
    int loadState = CONFIG_NOT_LOADED;
    int loadSource = CONFIG_SOURCE_NOTHING;
    std::int64_t Filesize = 0;  // bytes of the product installer; 0 = not given
    int Downloader_id = 0;
    int Software_id = 0;  // logged only
    int Site_id = 0;
    int Language_id = 0;       // Windows LCID, e.g. 1033
    int Downloader_type = 3;   // only the service reply sets another value
    std::string Software_name;  // at most kMaxSoftwareNameLength code points from the service
    std::string Software_version;
    std::string Download_url;  // primary download location ("Remote Path")
    std::string Md5;
    std::string Process_name;  // file name of the product's main executable
    std::string Install_url;
    std::string Banner_url;
    std::string Licensefile_url;
    std::string Extra_download_url;
    // Download locations in order of preference: Download_url, then Extra_download_url,
    // each when not empty. Nothing else adds to it.
    std::vector<std::string> remotePaths;
    std::string Md5_extra;  // a second accepted digest
    std::string Cnet_download_url;

    static constexpr std::size_t kMaxSoftwareNameLength = 259;
};

// One row per field. Parsing the service's reply, reading the skin's labels, reset and the
// log dump all walk this table, so a field added here reaches all four.
struct ProductConfigField {
    using Member = std::variant<int ProductConfig::*, std::int64_t ProductConfig::*, std::string ProductConfig::*>;

    const char* name;        // element of the service's reply and label of the skin
    Member member;
    const char* printLabel;  // its line in the log dump; nullptr: not printed
    int labelRank;           // the labels are read in the skin's own order; -1: not read
    bool fromService;        // the reply carries no language id
    bool clearedByReset;     // reset keeps the identifiers and the extra locations
    std::size_t maxCodePoints = 0;  // a longer text from the service is cut; 0: any length
};

// In the log dump's order.
inline constexpr ProductConfigField kProductConfigFields[] = {
    {"Filesize", &ProductConfig::Filesize, " [File ContentLength]: ", 15, true, true},
    {"Downloader_id", &ProductConfig::Downloader_id, " [Downloader Id]: ", 0, true, false},
    {"Software_id", &ProductConfig::Software_id, " [SoftWare Id]: ", 1, true, true},
    {"Site_id", &ProductConfig::Site_id, " [Site Id]: ", 2, true, false},
    {"Language_id", &ProductConfig::Language_id, " [Language Id]: ", 3, false, false},
    {"Software_name", &ProductConfig::Software_name, " [Software Name]: ", 4, true, true,
     ProductConfig::kMaxSoftwareNameLength},
    {"Software_version", &ProductConfig::Software_version, " [Software Version]: ", 5, true, true},
    {"Download_url", &ProductConfig::Download_url, " [Remote Path]: ", 8, true, true},
    {"Md5", &ProductConfig::Md5, " [MD5 String]: ", 12, true, true},
    {"Process_name", &ProductConfig::Process_name, " [Process Name]: ", 6, true, true},
    {"Install_url", &ProductConfig::Install_url, " [Install Url]: ", 7, true, true},
    {"Banner_url", &ProductConfig::Banner_url, " [Banner Url]: ", 10, true, true},
    {"Licensefile_url", &ProductConfig::Licensefile_url, " [Licensefile Url]: ", 11, true, true},
    {"Extra_download_url", &ProductConfig::Extra_download_url, " [Extra Download Url]: ", 9, true, false},
    {"Cnet_download_url", &ProductConfig::Cnet_download_url, " [Cnet Download Url]: ", 14, true, false},
    {"Md5_extra", &ProductConfig::Md5_extra, " [MD5 Extra String]: ", 13, true, false},
    // Reading the skin sets it to 3 instead.
    {"Downloader_type", &ProductConfig::Downloader_type, nullptr, -1, true, false},
};
