// The maker's side of the demo on 127.0.0.1: the fake maker service with a configuration
// for the signed sample product, and the download server offering its installer at two
// locations (one named like a content-delivery host). Runs until SIGINT or SIGTERM.
//
//   qv-demo-service --installer PATH --env-file FILE [--funnel-file FILE] [--tamper]
//
// The env file gets "export NAME='value'" lines pointing Setup at the service; it is
// written once everything listens, so its appearance means "ready". The funnel file is
// rewritten every second with the analytics hits received ("category / action / label").

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Signals.h"
#include "tests/support/DemoEnvironment.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: qv-demo-service --installer PATH --env-file FILE [--funnel-file FILE] [--tamper]\n");
    return 2;
}

bool WriteLines(const std::string& path, const std::vector<std::string>& lines, bool asExports) {
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        if (!out) return false;
        for (const auto& line : lines) {
            if (asExports) {
                const auto eq = line.find('=');
                out << "export " << line.substr(0, eq) << "='" << line.substr(eq + 1) << "'\n";
            } else {
                out << line << "\n";
            }
        }
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string installer, envFile, funnelFile;
    bool tamper = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--installer" && i + 1 < argc) installer = argv[++i];
        else if (arg == "--env-file" && i + 1 < argc) envFile = argv[++i];
        else if (arg == "--funnel-file" && i + 1 < argc) funnelFile = argv[++i];
        else if (arg == "--tamper") tamper = true;
        else return Usage();
    }
    if (installer.empty() || envFile.empty()) return Usage();

    platform::InterruptScope interrupt;
    try {
        qvtest::DemoEnvironment::Options options;
        options.installerPath = installer;
        qvtest::DemoEnvironment demo(options);
        if (tamper) {
            // One flipped byte in the middle: the digest and the signature no longer match.
            std::string bytes = demo.installerBytes();
            bytes[bytes.size() / 2] ^= 0x01;
            demo.ServeInstaller(bytes);
        }
        if (!WriteLines(envFile, demo.EnvironmentLines(), true)) {
            std::fprintf(stderr, "qv-demo-service: cannot write %s\n", envFile.c_str());
            return 1;
        }
        std::printf("demo service on %s, installer at %s and %s\n", demo.service().BaseUrl().c_str(),
                    demo.primaryUrl().c_str(), demo.cdnUrl().c_str());
        std::fflush(stdout);
        while (!platform::InterruptScope::Requested()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            static int ticks = 0;
            if (!funnelFile.empty() && ++ticks % 5 == 0) WriteLines(funnelFile, demo.Funnel(), false);
        }
        if (!funnelFile.empty()) WriteLines(funnelFile, demo.Funnel(), false);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qv-demo-service: %s\n", e.what());
        return 1;
    }
    return 0;
}
