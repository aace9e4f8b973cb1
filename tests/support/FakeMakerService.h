#pragma once
// A stand-in for the maker's services on 127.0.0.1 (a free port): the service-locator
// file, the web-service queries, the location lookup, the analytics collector and the
// exception endpoint. Every request is recorded; every endpoint can be told to answer
// normally, fail (500), answer 404 with a body, answer 200 with an empty body, or hang.
// A hang ends after the hang limit or when the service stops, whichever comes first.
//
// The service runs from construction to Stop() or destruction. All methods are
// thread-safe.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "src/telemetry/ServiceEndpoints.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace qvtest {

class FakeMakerService {
public:
    enum class Endpoint {
        ServiceLocator,   // GET /downloads/service/softwarelog.txt
        QueryUser,        // GET <base>/QueryUser
        QueryDownloader,  // GET <base>/QueryDownloader
        QueryTools,       // GET <base>/QueryTools
        AddUserLog,       // GET <base>/AddUserLog
        ReportLog,        // GET <base>/ReportLog
        Location,         // GET /csv
        Collect,          // POST /collect
        ExceptionSend,    // POST /api/exception/send
    };
    enum class Behaviour { Answer, Fail, NotFound, Empty, Hang };

    struct Request {
        Endpoint endpoint{};
        std::string method;
        std::string path;   // as sent, without the query
        std::string query;  // raw text after "?", empty if none
        std::string body;
        std::multimap<std::string, std::string> headers;
        // Query parameters, or the form fields of a POST body, decoded, in the order sent.
        std::vector<std::pair<std::string, std::string>> fields;

        // The first value of a field; empty when missing.
        std::string Field(const std::string& name) const;
        bool HasField(const std::string& name) const;
    };

    FakeMakerService();  // throws std::runtime_error when it cannot listen
    ~FakeMakerService();
    FakeMakerService(const FakeMakerService&) = delete;
    FakeMakerService& operator=(const FakeMakerService&) = delete;

    void Stop();  // ends hangs, closes the port, waits for the server thread

    int Port() const { return port_; }
    std::string BaseUrl() const;           // "http://127.0.0.1:PORT"
    std::string UrlOf(Endpoint endpoint) const;
    // Endpoints for a client of this service. The configured default base URL is
    // BaseUrl() + "/default"; the locator file names BaseUrl() itself unless told otherwise,
    // so a query's path shows which base the client used.
    ServiceEndpoints Endpoints() const;
    // Points QV_SERVICE_BASE_URL and the other overrides at this service (for child processes
    // and code that reads the environment).
    void ExportEnvironment() const;

    void SetReply(Endpoint endpoint, std::string body, std::string contentType = "text/plain");
    void SetBehaviour(Endpoint endpoint, Behaviour behaviour);
    void SetHangLimit(std::chrono::milliseconds limit);
    // Lets every request hanging now answer (normally) at once.
    void ReleaseHangs();

    std::vector<Request> Requests() const;
    std::vector<Request> Requests(Endpoint endpoint) const;
    std::size_t Count(Endpoint endpoint) const;
    void ClearRequests();
    // Waits until at least `count` requests reached the endpoint; false on time-out.
    bool WaitForCount(Endpoint endpoint, std::size_t count, std::chrono::milliseconds timeout) const;

    static const char* NameOf(Endpoint endpoint);
    // The default location line: country "Germany", city "Berlin-Mitte", address "203.0.113.7".
    static const char* DefaultLocationLine();
    // A configuration reply with every field the product configuration reads.
    static const char* DefaultDownloaderReply();

private:
    struct Route {
        Behaviour behaviour = Behaviour::Answer;
        std::string body;
        std::string contentType = "text/plain";
    };
    void Handle(Endpoint endpoint, const httplib::Request& req, httplib::Response& res);

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<Endpoint, Route> routes_;
    std::vector<Request> requests_;
    std::chrono::milliseconds hangLimit_{5000};
    bool stopping_ = false;
    unsigned hangGeneration_ = 0;  // bumped by ReleaseHangs
};

}  // namespace qvtest
