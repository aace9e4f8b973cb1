#pragma once
// Results of the download engine. Callers compare against ERRORCODE_OK, and tell the
// local-file results (7, 8) from the others to blame the folder rather than the network.

#include <cstdint>

enum errorcode : std::int32_t {
    ERRORCODE_OK = 1,
    ERRORCODE_CONTENT_LENGTH = 6,  // no remote size in five probes
    ERRORCODE_LOCAL_FILE = 7,      // the local download file could not be opened or created
    ERRORCODE_NO_SPACE = 8,        // the download folder cannot hold the file (free space, file-size limit)
};

inline const char* to_string(errorcode code) {
    switch (code) {
        case ERRORCODE_OK: return "ERRORCODE_OK";
        case ERRORCODE_CONTENT_LENGTH: return "ERRORCODE_CONTENT_LENGTH";
        case ERRORCODE_LOCAL_FILE: return "ERRORCODE_LOCAL_FILE";
        case ERRORCODE_NO_SPACE: return "ERRORCODE_NO_SPACE";
    }
    return "unknown errorcode";
}
