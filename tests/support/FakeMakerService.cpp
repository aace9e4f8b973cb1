#include "tests/support/FakeMakerService.h"

#include <httplib.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>

namespace qvtest {
namespace {

using Endpoint = FakeMakerService::Endpoint;

constexpr const char* kLocatorPath = "/downloads/service/softwarelog.txt";

// A 1x1 transparent GIF, as analytics collectors answer.
const std::string kGifBody("GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff\x21\xf9\x04\x01\x00\x00\x00"
                           "\x00\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3b",
                           43);

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string FormDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> ParseFields(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> fields;
    std::size_t start = 0;
    while (!text.empty() && start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(start, end - start);
        if (!part.empty()) {
            const std::size_t eq = part.find('=');
            if (eq == std::string::npos) {
                fields.emplace_back(FormDecode(part), "");
            } else {
                fields.emplace_back(FormDecode(part.substr(0, eq)), FormDecode(part.substr(eq + 1)));
            }
        }
        start = end + 1;
    }
    return fields;
}

struct RouteInfo {
    Endpoint endpoint;
    const char* method;
    const char* pattern;  // full-match regular expression on the path
};

// Service queries match under any base path, so a test sees which base a client used.
constexpr RouteInfo kRoutes[] = {
    {Endpoint::ServiceLocator, "GET", "/downloads/service/softwarelog\\.txt"},
    {Endpoint::QueryUser, "GET", ".*/QueryUser"},
    {Endpoint::QueryDownloader, "GET", ".*/QueryDownloader"},
    {Endpoint::QueryTools, "GET", ".*/QueryTools"},
    {Endpoint::AddUserLog, "GET", ".*/AddUserLog"},
    {Endpoint::ReportLog, "GET", ".*/ReportLog"},
    {Endpoint::Location, "GET", ".*/csv"},
    {Endpoint::Collect, "POST", ".*/collect"},
    {Endpoint::ExceptionSend, "POST", ".*/api/exception/send"},
};

}  // namespace

std::string FakeMakerService::Request::Field(const std::string& name) const {
    for (const auto& [key, value] : fields) {
        if (key == name) return value;
    }
    return {};
}

bool FakeMakerService::Request::HasField(const std::string& name) const {
    for (const auto& field : fields) {
        if (field.first == name) return true;
    }
    return false;
}

const char* FakeMakerService::NameOf(Endpoint endpoint) {
    switch (endpoint) {
        case Endpoint::ServiceLocator: return "ServiceLocator";
        case Endpoint::QueryUser: return "QueryUser";
        case Endpoint::QueryDownloader: return "QueryDownloader";
        case Endpoint::QueryTools: return "QueryTools";
        case Endpoint::AddUserLog: return "AddUserLog";
        case Endpoint::ReportLog: return "ReportLog";
        case Endpoint::Location: return "Location";
        case Endpoint::Collect: return "Collect";
        case Endpoint::ExceptionSend: return "ExceptionSend";
    }
    return "?";
}

const char* FakeMakerService::DefaultLocationLine() {
    return "success,Germany,DE,BE,Land Berlin,Berlin-Mitte,10115,52.52,13.40,Europe/Berlin,Example ISP,"
           "Example Org,AS64500 Example,203.0.113.7\n";
}

const char* FakeMakerService::DefaultDownloaderReply() {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<Downloader>\n"
           "  <Downloader_id>224</Downloader_id>\n"
           "  <Software_id>31</Software_id>\n"
           "  <Site_id>127</Site_id>\n"
           "  <Software_name>Quorvane Studio</Software_name>\n"
           "  <Software_version>2.4.1.0</Software_version>\n"
           "  <Process_name>QuorvaneStudio.exe</Process_name>\n"
           "  <Install_url>https://www.quorvane.example/install</Install_url>\n"
           "  <Download_url>https://download.quorvane.example/downloads/extra/quorvane-studio-setup.exe</Download_url>\n"
           "  <Extra_download_url>https://cdn.quorvane.example/downloads/extra/quorvane-studio-setup.exe</Extra_download_url>\n"
           "  <Banner_url>https://www.quorvane.example/banner.png</Banner_url>\n"
           "  <Licensefile_url>https://www.quorvane.example/licence.txt</Licensefile_url>\n"
           "  <Md5>0123456789abcdef0123456789abcdef</Md5>\n"
           "  <Filesize>73400320</Filesize>\n"
           "  <Cnet_download_url></Cnet_download_url>\n"
           "  <Md5_extra></Md5_extra>\n"
           "  <Downloader_type>3</Downloader_type>\n"
           "</Downloader>\n";
}

FakeMakerService::FakeMakerService() : server_(std::make_unique<httplib::Server>()) {
    // Hangs and kept-alive connections each hold a worker; leave room for both.
    server_->new_task_queue = [] { return new httplib::ThreadPool(16); };
    // Headers and body leave in separate writes; without this every answer on a kept-alive
    // connection waits for the client's delayed acknowledgement.
    server_->set_tcp_nodelay(true);
    routes_[Endpoint::ServiceLocator];
    routes_[Endpoint::QueryUser].body = "20240001";
    routes_[Endpoint::QueryDownloader] = {Behaviour::Answer, DefaultDownloaderReply(), "application/xml"};
    routes_[Endpoint::QueryTools].body = "<Tools><Tool>QuorvaneTool</Tool></Tools>";
    routes_[Endpoint::AddUserLog].body = "OK";
    routes_[Endpoint::ReportLog].body = "OK";
    routes_[Endpoint::Location].body = DefaultLocationLine();
    routes_[Endpoint::Collect] = {Behaviour::Answer, kGifBody, "image/gif"};
    routes_[Endpoint::ExceptionSend] = {Behaviour::Answer, "{\"result\":0}", "application/json"};

    for (const RouteInfo& route : kRoutes) {
        const Endpoint endpoint = route.endpoint;
        auto handler = [this, endpoint](const httplib::Request& req, httplib::Response& res) {
            Handle(endpoint, req, res);
        };
        if (std::string(route.method) == "GET") {
            server_->Get(route.pattern, handler);
        } else {
            server_->Post(route.pattern, handler);
        }
    }
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("FakeMakerService: cannot listen on 127.0.0.1");
    routes_[Endpoint::ServiceLocator].body = BaseUrl();
    auto listenEnded = std::make_shared<std::atomic<bool>>(false);
    thread_ = std::thread([this, listenEnded] {
        server_->listen_after_bind();
        *listenEnded = true;
    });
    // A stop before the server loop runs would be ignored by the server and leave Stop()
    // waiting forever, so the service is only handed out once it runs.
    while (!server_->is_running() && !*listenEnded) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!server_->is_running()) {
        thread_.join();
        throw std::runtime_error("FakeMakerService: the server loop did not start");
    }
}

FakeMakerService::~FakeMakerService() { Stop(); }

void FakeMakerService::Stop() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
}

std::string FakeMakerService::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::string FakeMakerService::UrlOf(Endpoint endpoint) const {
    switch (endpoint) {
        case Endpoint::ServiceLocator: return BaseUrl() + kLocatorPath;
        case Endpoint::QueryUser: return BaseUrl() + "/QueryUser";
        case Endpoint::QueryDownloader: return BaseUrl() + "/QueryDownloader";
        case Endpoint::QueryTools: return BaseUrl() + "/QueryTools";
        case Endpoint::AddUserLog: return BaseUrl() + "/AddUserLog";
        case Endpoint::ReportLog: return BaseUrl() + "/ReportLog";
        case Endpoint::Location: return BaseUrl() + "/csv";
        case Endpoint::Collect: return BaseUrl() + "/collect";
        case Endpoint::ExceptionSend: return BaseUrl() + "/api/exception/send";
    }
    return BaseUrl();
}

ServiceEndpoints FakeMakerService::Endpoints() const {
    ServiceEndpoints e;
    e.serviceBaseUrl = BaseUrl() + "/default";
    e.serviceLocatorUrl = UrlOf(Endpoint::ServiceLocator);
    e.locationUrl = UrlOf(Endpoint::Location);
    e.analyticsUrl = UrlOf(Endpoint::Collect);
    e.exceptionUrl = UrlOf(Endpoint::ExceptionSend);
    return e;
}

void FakeMakerService::ExportEnvironment() const {
    const ServiceEndpoints e = Endpoints();
    setenv("QV_SERVICE_BASE_URL", e.serviceBaseUrl.c_str(), 1);
    setenv("QV_SERVICE_LOCATOR_URL", e.serviceLocatorUrl.c_str(), 1);
    setenv("QV_LOCATION_URL", e.locationUrl.c_str(), 1);
    setenv("QV_ANALYTICS_URL", e.analyticsUrl.c_str(), 1);
    setenv("QV_EXCEPTION_URL", e.exceptionUrl.c_str(), 1);
}

void FakeMakerService::SetReply(Endpoint endpoint, std::string body, std::string contentType) {
    std::lock_guard<std::mutex> hold(mutex_);
    Route& route = routes_[endpoint];
    route.behaviour = Behaviour::Answer;
    route.body = std::move(body);
    route.contentType = std::move(contentType);
}

void FakeMakerService::SetBehaviour(Endpoint endpoint, Behaviour behaviour) {
    std::lock_guard<std::mutex> hold(mutex_);
    routes_[endpoint].behaviour = behaviour;
}

void FakeMakerService::SetHangLimit(std::chrono::milliseconds limit) {
    std::lock_guard<std::mutex> hold(mutex_);
    hangLimit_ = limit;
}

void FakeMakerService::ReleaseHangs() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        ++hangGeneration_;
    }
    changed_.notify_all();
}

std::vector<FakeMakerService::Request> FakeMakerService::Requests() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return requests_;
}

std::vector<FakeMakerService::Request> FakeMakerService::Requests(Endpoint endpoint) const {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<Request> out;
    for (const Request& r : requests_) {
        if (r.endpoint == endpoint) out.push_back(r);
    }
    return out;
}

std::size_t FakeMakerService::Count(Endpoint endpoint) const {
    std::lock_guard<std::mutex> hold(mutex_);
    std::size_t n = 0;
    for (const Request& r : requests_) n += r.endpoint == endpoint ? 1 : 0;
    return n;
}

void FakeMakerService::ClearRequests() {
    std::lock_guard<std::mutex> hold(mutex_);
    requests_.clear();
}

bool FakeMakerService::WaitForCount(Endpoint endpoint, std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, timeout, [&] {
        std::size_t n = 0;
        for (const Request& r : requests_) n += r.endpoint == endpoint ? 1 : 0;
        return n >= count;
    });
}

void FakeMakerService::Handle(Endpoint endpoint, const httplib::Request& req, httplib::Response& res) {
    Request record;
    record.endpoint = endpoint;
    record.method = req.method;
    const std::size_t question = req.target.find('?');
    record.path = req.target.substr(0, question);
    if (question != std::string::npos) record.query = req.target.substr(question + 1);
    record.body = req.body;
    for (const auto& [name, value] : req.headers) record.headers.emplace(name, value);
    record.fields = ParseFields(req.method == "POST" ? req.body : record.query);

    std::unique_lock<std::mutex> hold(mutex_);
    requests_.push_back(std::move(record));
    changed_.notify_all();
    const Route route = routes_[endpoint];
    if (route.behaviour == Behaviour::Hang) {
        const unsigned generation = hangGeneration_;
        changed_.wait_for(hold, hangLimit_, [&] { return stopping_ || hangGeneration_ != generation; });
    }
    hold.unlock();

    switch (route.behaviour) {
        case Behaviour::Answer:
        case Behaviour::Hang:
            res.status = 200;
            res.set_content(route.body, route.contentType.c_str());
            return;
        case Behaviour::Fail:
            res.status = 500;
            res.set_content("internal error", "text/plain");
            return;
        case Behaviour::NotFound:
            res.status = 404;
            res.set_content("<html><body>not here</body></html>", "text/html");
            return;
        case Behaviour::Empty:
            res.status = 200;
            res.set_content("", route.contentType.c_str());
            return;
    }
}

}  // namespace qvtest
