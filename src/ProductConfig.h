#pragma once
// The product configuration record: which product the installer fetches, where its full
// installer can be downloaded, its size and checksums, and the identifiers the maker's
// web service knows this installer by. Text is UTF-8. Filled by CConfigure.

#include <cstdint>
#include <string>
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
