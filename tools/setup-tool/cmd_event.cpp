// setup-tool event: sends one analytics event at once, exactly as the installer would
// (same dimensions, client id and collector; QV_ANALYTICS_URL overrides the collector), and
// prints the result: 0 acknowledged, 253 answered without the image, 254 refused before
// sending, 255 not delivered, -1 no client.

#include <cstdio>
#include <string>
#include <vector>

#include "Subcommand.h"
#include "src/telemetry/UserLogReporter.h"

namespace setuptool {
namespace {

int RunEvent(const std::vector<std::string>& args) {
    if (args.size() < 2 || args.size() > 3) return UsageError("event", "needs CATEGORY and ACTION, and at most a LABEL");
    for (const std::string& arg : args) {
        if (arg.size() > 1024) return UsageError("event", "values are limited to 1024 bytes");
    }
    UserLogReporterOptions options;
    options.startSender = false;  // one hit, no identity lookup and no launch event
    UserLogReporter reporter(options);
    const int result = reporter.ReportEvent(args[0], args[1], args.size() == 3 ? args[2] : std::string(), true);
    std::printf("result: %d\n", result);
    return result == 0 ? EXIT_OK : EXIT_FAILED;
}

const SubcommandRegistration kRegistration{"event", "event CATEGORY ACTION [LABEL]",
                                           "send one analytics event now and print the result code", &RunEvent};

}  // namespace
}  // namespace setuptool
