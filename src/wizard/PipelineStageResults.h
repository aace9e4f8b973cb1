#pragma once
// How each stage of the install pipeline ended. The download stage ends with the engine's
// DownloadResult. The pipeline decides from these how the attempt goes on or which ending
// the window gets; nothing stores or sends the values.

// Preparing: the configuration and the private download folder, locked for this run.
enum class PrepareResult {
    Ready,
    NoConfiguration,      // started without a product configuration
    UnsafeConfiguration,  // a configuration value would lead a file name out of its folder
    NoDownloadFolder,     // no private download folder can be had
    FolderLockFailed,     // the download folder cannot be locked
    FolderBusy,           // another run still works in the download folder after the wait
};

// Choosing the download location among the configured ones.
enum class LocationResult {
    Chosen,
    NoLocation,  // none qualifies; the download is still tried and says how it failed
};

// The reuse check: whether a file an earlier run left in the installer's place is kept.
enum class ReuseResult {
    Kept,               // its verification record names the version and a configured checksum
    NoRecord,           // nothing vouches for a file there: it and its task file are deleted
    NotVouchedFor,      // the record names another version or checksum: both deleted
    NoInstaller,        // a vouching record, but no regular file in the installer's place
    SkinConfiguration,  // a configuration from the skin vouches for no file: the download folder is cleared
};

// Verifying the downloaded installer.
enum class VerifyResult {
    Passed,            // checksum (unless the skin's configuration) and signature
    DigestMismatch,    // the signature holds, the checksum does not: reported, and installed all the same
    SignatureRefused,  // no valid signature (or no file to check): never started
};

// Installing: the installer started on the checked file and waited for.
enum class InstallResult {
    Finished,           // the installer ended (whatever its exit status)
    ChangedAfterCheck,  // the file is not the one verified: never started
    TimedOut,           // still running after the last wait, or it could not start
};

// Finishing: the window's finished form, the product page, the language record.
enum class FinishResult {
    Installed,       // InstallThreadFunc answers 0
    DownloadedOnly,  // a product that is not installed: the downloaded file is the result (1)
};

inline const char* to_string(PrepareResult result) {
    switch (result) {
        case PrepareResult::Ready: return "Ready";
        case PrepareResult::NoConfiguration: return "NoConfiguration";
        case PrepareResult::UnsafeConfiguration: return "UnsafeConfiguration";
        case PrepareResult::NoDownloadFolder: return "NoDownloadFolder";
        case PrepareResult::FolderLockFailed: return "FolderLockFailed";
        case PrepareResult::FolderBusy: return "FolderBusy";
    }
    return "?";
}

inline const char* to_string(LocationResult result) {
    switch (result) {
        case LocationResult::Chosen: return "Chosen";
        case LocationResult::NoLocation: return "NoLocation";
    }
    return "?";
}

inline const char* to_string(ReuseResult result) {
    switch (result) {
        case ReuseResult::Kept: return "Kept";
        case ReuseResult::NoRecord: return "NoRecord";
        case ReuseResult::NotVouchedFor: return "NotVouchedFor";
        case ReuseResult::NoInstaller: return "NoInstaller";
        case ReuseResult::SkinConfiguration: return "SkinConfiguration";
    }
    return "?";
}

inline const char* to_string(VerifyResult result) {
    switch (result) {
        case VerifyResult::Passed: return "Passed";
        case VerifyResult::DigestMismatch: return "DigestMismatch";
        case VerifyResult::SignatureRefused: return "SignatureRefused";
    }
    return "?";
}

inline const char* to_string(InstallResult result) {
    switch (result) {
        case InstallResult::Finished: return "Finished";
        case InstallResult::ChangedAfterCheck: return "ChangedAfterCheck";
        case InstallResult::TimedOut: return "TimedOut";
    }
    return "?";
}

inline const char* to_string(FinishResult result) {
    switch (result) {
        case FinishResult::Installed: return "Installed";
        case FinishResult::DownloadedOnly: return "DownloadedOnly";
    }
    return "?";
}
