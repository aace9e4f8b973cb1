#pragma once
// tinyproxy from the system as a forward proxy on 127.0.0.1, with its configuration and
// log in a private folder. Its log names every request it forwarded ("GET http://...",
// "CONNECT host:port"), which is how a test sees what went through it.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/ServerProcess.h"

namespace qvtest {

class TinyProxy {
public:
    // `refuseEveryone`: the proxy answers every client 403 (an Allow list that leaves
    // this machine out), as an enterprise proxy does for a client it does not know.
    TinyProxy(std::filesystem::path folder, bool refuseEveryone = false);

    static std::optional<std::string> Program() { return ServerProcess::FindProgram("tinyproxy"); }

    bool Start(std::string& error);
    void Stop() { process_.Stop(); }

    int port() const { return port_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

    // The request lines the proxy logged, e.g. "GET http://127.0.0.1:5000/x HTTP/1.1" or
    // "CONNECT 127.0.0.1:5001 HTTP/1.1", in order.
    std::vector<std::string> Requests() const;
    // Connections it turned away (refuseEveryone).
    std::size_t Refusals() const;

private:
    std::filesystem::path folder_;
    bool refuseEveryone_;
    int port_;
    ServerProcess process_;
};

}  // namespace qvtest
