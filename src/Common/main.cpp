// Process entry of Setup.

#include <cstring>

#include "log/ProcessLogger.h"
#include "platform/Resources.h"

int main(int argc, char** argv) {
    // "debug" (exactly, as the only argument) turns on the console diagnostics.
    if (argc == 2 && std::strcmp(argv[1], "debug") == 0) qvlog::SetConsoleDiagnostics(true);
    qvlog::InitDefaultLogger();

    auto skin = platform::FindResource("ZIPRES", 138);
    if (skin.empty()) {
        LOG(INFO) << " Skin package missing";
        return 1;
    }
    LOG(INFO) << " Skin package: " << skin.size() << " bytes";
    return 0;
}
