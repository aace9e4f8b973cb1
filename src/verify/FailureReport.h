#pragma once
// The report sent to the maker's exception service when the downloaded installer fails
// its digest or signature check. One form post on the calling (pipeline) thread; its
// outcome is only logged and never changes what the caller does next.

#include <string>

#include "src/telemetry/ServiceEndpoints.h"

// "pid=<id>&type=2&exception_code=<MD5_Hash_|MD5_|Hash_>Check_Fail_Cfg<source>"; empty when
// both checks passed. With the configuration from the skin (source 2) the digest is not
// checked, so it counts as passed.
std::string FailureReportBody(bool md5Passed, bool signaturePassed, int downloaderId, int loadSource);

// Posts the body to `endpoint` and logs " Send error report: <body>, response is <reply>,
// return <code>". Returns the libcurl code, or -1 when there was nothing to report.
int SendFailureReport(bool md5Passed, bool signaturePassed, int downloaderId, int loadSource,
                      const std::string& endpoint = ServiceEndpoints::FromEnvironment().exceptionUrl);
