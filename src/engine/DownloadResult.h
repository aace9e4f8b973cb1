#pragma once
// How one watched download of the product installer ended. The numbers are part of what
// the pipeline reports ("error-3", "DownloaderFailed" -4) and must not change; -5 belongs
// to the signature check, which is not a download result.

enum class DownloadResult : int {
    Complete = 1,
    Incomplete = -1,          // no size, refused, or stopped short of the whole file
    NoNetwork = -2,           // the machine lost its network
    TooSlow = -3,             // less than the floor rate for the stall limit
    CdnTooManyRequests = -4,  // a content-delivery URL needing more than three requests per task
    NoRoom = -6,              // the download folder cannot take the file
};

inline const char* to_string(DownloadResult result) {
    switch (result) {
        case DownloadResult::Complete: return "Complete";
        case DownloadResult::Incomplete: return "Incomplete";
        case DownloadResult::NoNetwork: return "NoNetwork";
        case DownloadResult::TooSlow: return "TooSlow";
        case DownloadResult::CdnTooManyRequests: return "CdnTooManyRequests";
        case DownloadResult::NoRoom: return "NoRoom";
    }
    return "?";
}

// The number the pipeline logs and reports for it.
constexpr int ResultCode(DownloadResult result) { return static_cast<int>(result); }
