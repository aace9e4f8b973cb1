// The maker's side of the demo on 127.0.0.1: the fake maker service with a configuration
// for the signed sample product, and the download server offering its installer at two
// locations (one named like a content-delivery host). Runs until SIGINT or SIGTERM.
//
//   qv-demo-service --installer PATH --env-file FILE [--funnel-file FILE] [--tamper]
//                   [--download-url URL] [--extra-download-url URL]
//
// --download-url and --extra-download-url make the configuration name other locations of
// the installer than this server's own (a benchmark puts a shaped link in front of them).
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
    std::fprintf(stderr,
                 "usage: qv-demo-service --installer PATH --env-file FILE [--funnel-file FILE] [--tamper]\n"
                 "                       [--download-url URL] [--extra-download-url URL]\n");
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

// The text of the first <name> element of a reply replaced by `value` (escaped).
void SetElement(std::string& reply, const std::string& name, const std::string& value) {
    const std::string open = "<" + name + ">", close = "</" + name + ">";
    const std::size_t start = reply.find(open);
    if (start == std::string::npos) return;
    const std::size_t from = start + open.size();
    const std::size_t end = reply.find(close, from);
    if (end == std::string::npos) return;
    std::string escaped;
    for (char c : value) {
        switch (c) {
            case '&': escaped += "&amp;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            default: escaped += c;
        }
    }
    reply.replace(from, end - from, escaped);
}

}  // namespace

int main(int argc, char** argv) {
    std::string installer, envFile, funnelFile, downloadUrl, extraDownloadUrl;
    bool tamper = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--installer" && i + 1 < argc) installer = argv[++i];
        else if (arg == "--env-file" && i + 1 < argc) envFile = argv[++i];
        else if (arg == "--funnel-file" && i + 1 < argc) funnelFile = argv[++i];
        else if (arg == "--tamper") tamper = true;
        else if (arg == "--download-url" && i + 1 < argc) downloadUrl = argv[++i];
        else if (arg == "--extra-download-url" && i + 1 < argc) extraDownloadUrl = argv[++i];
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
        if (!downloadUrl.empty() || !extraDownloadUrl.empty()) {
            std::string reply = demo.ConfigurationReply();
            if (!downloadUrl.empty()) SetElement(reply, "Download_url", downloadUrl);
            if (!extraDownloadUrl.empty()) SetElement(reply, "Extra_download_url", extraDownloadUrl);
            demo.service().SetReply(qvtest::FakeMakerService::Endpoint::QueryDownloader, reply, "application/xml");
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
