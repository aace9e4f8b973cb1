#include "src/verify/FailureReport.h"

#include <cstdio>

#include "src/engine/CLibcurlTool.h"
#include "src/config/ProductConfig.h"
#include "platform/ProcessLogger.h"

namespace {

// The service's reply is only logged; a long one is cut so it cannot flood the log.
constexpr std::size_t kLoggedReplyChars = 1024;
constexpr std::size_t kMaxBodyChars = 1023;

}  // namespace

std::string FailureReportBody(bool md5Passed, bool signaturePassed, int downloaderId, int loadSource) {
    if (loadSource == CONFIG_SOURCE_SKIN) md5Passed = true;
    const char* format = nullptr;
    if (!md5Passed && !signaturePassed) {
        format = "pid=%d&type=2&exception_code=MD5_Hash_Check_Fail_Cfg%d";
    } else if (!md5Passed) {
        format = "pid=%d&type=2&exception_code=MD5_Check_Fail_Cfg%d";
    } else if (!signaturePassed) {
        format = "pid=%d&type=2&exception_code=Hash_Check_Fail_Cfg%d";
    } else {
        return {};
    }
    char body[kMaxBodyChars + 1];
    std::snprintf(body, sizeof body, format, downloaderId, loadSource);
    return body;
}

int SendFailureReport(bool md5Passed, bool signaturePassed, int downloaderId, int loadSource,
                      const std::string& endpoint) {
    const std::string body = FailureReportBody(md5Passed, signaturePassed, downloaderId, loadSource);
    if (body.empty()) return -1;
    std::string reply;
    // The server certificate is verified like every other transfer's.
    const int code = CLibcurlTool::postData(endpoint, body, reply);
    if (reply.size() > kLoggedReplyChars) reply.resize(kLoggedReplyChars);
    LOG(INFO) << " Send error report: " << body << ", response is " << reply << ", return " << code;
    return code;
}
