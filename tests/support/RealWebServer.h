#pragma once
// nginx, Apache httpd or lighttpd from the system, serving a folder on 127.0.0.1 from a
// configuration written into a private folder, with an access log that records each
// request's method, path, status and Range header. The port stays the same across
// Stop() and Start(), so that a client can be resumed against a restarted server.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/ServerProcess.h"

namespace qvtest {

enum class WebServerKind { Nginx, Apache, Lighttpd };

struct WebServerOptions {
    std::int64_t bytesPerSecond = 0;  // per connection; 0 = as fast as it goes
    std::string certPath;             // HTTPS with this certificate and key when set
    std::string keyPath;
};

class RealWebServer {
public:
    struct LoggedRequest {
        std::string method;
        std::string path;
        int status = 0;
        std::string range;  // empty when the request had none
    };

    // `folder` holds the configuration and logs; `docroot` the files served.
    RealWebServer(WebServerKind kind, std::filesystem::path folder, std::filesystem::path docroot);

    static const char* Name(WebServerKind kind);
    // The server's program, or nullopt when its package is not installed.
    static std::optional<std::string> Program(WebServerKind kind);

    bool Start(const WebServerOptions& options, std::string& error);
    void Stop();

    std::string url(const std::string& path) const;
    // The access log so far. Servers may buffer it: read it after Stop() to see everything.
    std::vector<LoggedRequest> AccessLog() const;
    // Starts a new access log (the server must be stopped).
    void ClearAccessLog();

private:
    std::string WriteConfig(const WebServerOptions& options) const;
    std::vector<std::string> CommandLine(const std::string& program, const std::string& config) const;

    WebServerKind kind_;
    std::filesystem::path folder_;
    std::filesystem::path docroot_;
    int port_ = 0;
    bool tls_ = false;
    ServerProcess process_;
};

}  // namespace qvtest
