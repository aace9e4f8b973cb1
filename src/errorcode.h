#pragma once
// Results of the download engine. Callers compare against ERRORCODE_OK only.

#include <cstdint>

enum errorcode : std::int32_t {
    ERRORCODE_OK = 1,
    ERRORCODE_CONTENT_LENGTH = 6,  // no remote size in five probes
    ERRORCODE_LOCAL_FILE = 7,      // the local download file could not be opened or created
};

inline const char* to_string(errorcode code) {
    switch (code) {
        case ERRORCODE_OK: return "ERRORCODE_OK";
        case ERRORCODE_CONTENT_LENGTH: return "ERRORCODE_CONTENT_LENGTH";
        case ERRORCODE_LOCAL_FILE: return "ERRORCODE_LOCAL_FILE";
    }
    return "unknown errorcode";
}
