#include "tests/support/RealWebServer.h"

#include <fstream>
#include <sstream>

namespace qvtest {

namespace fs = std::filesystem;

namespace {

// One request per line, fields separated by '|' (which neither a path nor a Range
// header of ours contains): method|path|status|range. A missing Range is logged as "-".
constexpr const char* kFields = "|";

std::string Quoted(const fs::path& path) { return "\"" + path.string() + "\""; }

std::string Kib(std::int64_t bytesPerSecond) { return std::to_string(std::max<std::int64_t>(1, bytesPerSecond / 1024)); }

}  // namespace

RealWebServer::RealWebServer(WebServerKind kind, fs::path folder, fs::path docroot)
    : kind_(kind), folder_(std::move(folder)), docroot_(std::move(docroot)), port_(ServerProcess::FreePort()) {
    for (const char* sub : {"logs", "run", "tmp"}) {
        fs::create_directories(folder_ / sub);
        ServerProcess::OpenToServer(folder_ / sub);
    }
}

const char* RealWebServer::Name(WebServerKind kind) {
    switch (kind) {
        case WebServerKind::Nginx: return "nginx";
        case WebServerKind::Apache: return "Apache httpd";
        case WebServerKind::Lighttpd: return "lighttpd";
    }
    return "?";
}

std::optional<std::string> RealWebServer::Program(WebServerKind kind) {
    switch (kind) {
        case WebServerKind::Nginx: return ServerProcess::FindProgram("nginx");
        case WebServerKind::Apache: return ServerProcess::FindProgram("apache2");
        case WebServerKind::Lighttpd: return ServerProcess::FindProgram("lighttpd");
    }
    return std::nullopt;
}

std::string RealWebServer::url(const std::string& path) const {
    return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

std::string RealWebServer::WriteConfig(const WebServerOptions& options) const {
    const fs::path logs = folder_ / "logs", run = folder_ / "run", tmp = folder_ / "tmp";
    const fs::path access = logs / "access.log", errors = logs / "error.log";
    const std::string listen = "127.0.0.1:" + std::to_string(port_);
    const bool tls = !options.certPath.empty();
    std::ostringstream c;
    switch (kind_) {
        case WebServerKind::Nginx:
            c << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
              << "pid " << (run / "nginx.pid").string() << ";\n"
              << "error_log " << errors.string() << ";\n"
              << "events { worker_connections 256; }\n"
              << "http {\n"
              << "  log_format ranges '$request_method" << kFields << "$uri" << kFields << "$status" << kFields
              << "$http_range';\n"
              << "  access_log " << access.string() << " ranges;\n"
              << "  default_type application/octet-stream;\n"
              << "  client_body_temp_path " << (tmp / "client").string() << ";\n"
              << "  proxy_temp_path " << (tmp / "proxy").string() << ";\n"
              << "  fastcgi_temp_path " << (tmp / "fastcgi").string() << ";\n"
              << "  uwsgi_temp_path " << (tmp / "uwsgi").string() << ";\n"
              << "  scgi_temp_path " << (tmp / "scgi").string() << ";\n"
              << "  server {\n"
              << "    listen " << listen << (tls ? " ssl" : "") << ";\n"
              << "    root " << docroot_.string() << ";\n";
            if (tls) c << "    ssl_certificate " << options.certPath << ";\n    ssl_certificate_key " << options.keyPath << ";\n";
            if (options.bytesPerSecond > 0) c << "    limit_rate " << options.bytesPerSecond << ";\n";
            c << "  }\n}\n";
            break;
        case WebServerKind::Apache:
            c << "ServerRoot " << Quoted(folder_) << "\n"
              << "LoadModule mpm_event_module /usr/lib/apache2/modules/mod_mpm_event.so\n"
              << "LoadModule authz_core_module /usr/lib/apache2/modules/mod_authz_core.so\n"
              << "LoadModule env_module /usr/lib/apache2/modules/mod_env.so\n"
              << "LoadModule ratelimit_module /usr/lib/apache2/modules/mod_ratelimit.so\n"
              << "ServerName 127.0.0.1\nListen " << listen << "\n"
              << "PidFile " << Quoted(run / "httpd.pid") << "\n"
              << "DefaultRuntimeDir " << Quoted(run) << "\n"
              << "Mutex file:" << run.string() << " default\n"
              << "ErrorLog " << Quoted(errors) << "\n"
              << "LogFormat \"%m" << kFields << "%U" << kFields << "%>s" << kFields << "%{Range}i\" ranges\n"
              << "CustomLog " << Quoted(access) << " ranges\n"
              << "KeepAlive On\nMaxKeepAliveRequests 0\n"
              << "DocumentRoot " << Quoted(docroot_) << "\n"
              << "<Directory " << Quoted(docroot_) << ">\n  Require all granted\n";
            if (options.bytesPerSecond > 0) {
                c << "  SetOutputFilter RATE_LIMIT\n  SetEnv rate-limit " << Kib(options.bytesPerSecond) << "\n";
            }
            c << "</Directory>\n";
            break;
        case WebServerKind::Lighttpd:
            c << "server.document-root = " << Quoted(docroot_) << "\n"
              << "server.bind = \"127.0.0.1\"\nserver.port = " << port_ << "\n"
              << "server.errorlog = " << Quoted(errors) << "\n"
              << "server.modules = ( \"mod_accesslog\" )\n"
              << "accesslog.filename = " << Quoted(access) << "\n"
              << "accesslog.format = \"%m" << kFields << "%U" << kFields << "%>s" << kFields << "%{Range}i\"\n";
            if (options.bytesPerSecond > 0) c << "connection.kbytes-per-second = " << Kib(options.bytesPerSecond) << "\n";
            break;
    }
    const fs::path config = folder_ / "server.conf";
    std::ofstream(config) << c.str();
    return config.string();
}

std::vector<std::string> RealWebServer::CommandLine(const std::string& program, const std::string& config) const {
    switch (kind_) {
        case WebServerKind::Nginx: return {program, "-p", folder_.string(), "-c", config, "-e", (folder_ / "logs" / "error.log").string()};
        case WebServerKind::Apache: return {program, "-d", folder_.string(), "-f", config, "-D", "FOREGROUND"};
        case WebServerKind::Lighttpd: return {program, "-D", "-f", config};
    }
    return {};
}

bool RealWebServer::Start(const WebServerOptions& options, std::string& error) {
    const std::optional<std::string> program = Program(kind_);
    if (!program) {
        error = std::string(Name(kind_)) + " is not installed";
        return false;
    }
    tls_ = !options.certPath.empty();
    const std::string config = WriteConfig(options);
    if (process_.Start(CommandLine(*program, config), port_, error)) return true;
    std::ifstream log(folder_ / "logs" / "error.log");
    error += "\n" + std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>());
    return false;
}

void RealWebServer::Stop() {
    // lighttpd's SIGTERM closes open connections without logging their requests; its
    // graceful stop lets them end (a client that went away fails them at once) and logs them.
    process_.Stop(kind_ == WebServerKind::Lighttpd ? SIGINT : SIGTERM);
}

std::vector<RealWebServer::LoggedRequest> RealWebServer::AccessLog() const {
    std::vector<LoggedRequest> requests;
    std::ifstream log(folder_ / "logs" / "access.log");
    for (std::string line; std::getline(log, line);) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '|');) fields.push_back(field);
        if (fields.size() < 3) continue;
        LoggedRequest request{fields[0], fields[1], std::atoi(fields[2].c_str()), fields.size() > 3 ? fields[3] : ""};
        if (request.range == "-") request.range.clear();
        requests.push_back(std::move(request));
    }
    return requests;
}

void RealWebServer::ClearAccessLog() {
    std::error_code ignored;
    fs::remove(folder_ / "logs" / "access.log", ignored);
}

}  // namespace qvtest
