#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for network tests, started by the test itself.
// Each connection is served on its own thread; every reply closes its connection.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class LoopbackServer {
public:
    struct Reply {
        int status = 200;
        std::string body;
        std::string location;   // sent as "Location" when set (redirects)
        int64_t announce = -1;  // Content-Length to announce instead of the body's size
        size_t chunk = 0;       // send the body in pieces of this size, with a short pause between
        int pauseMs = 2;        // the pause between pieces
        bool stall = false;     // after the body, keep the connection open without sending more
    };

    LoopbackServer();   // listens on an ephemeral port; check ok()
    ~LoopbackServer();  // stops, ends stalled replies and joins every thread
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool ok() const { return listen_ >= 0; }
    std::string url() const;  // "http://127.0.0.1:PORT/"

    void serve(const std::string& path, Reply reply);  // path without the leading "/"
    void serveFile(const std::string& path, const std::string& body) {
        Reply r;
        r.body = body;
        serve(path, std::move(r));
    }

    // The "User-Agent" header of every request so far, and the paths asked for.
    std::vector<std::string> userAgents() const;
    std::vector<std::string> paths() const;
    // Body bytes the clients took so far (whole pieces of a reply sent in pieces).
    uint64_t bodyBytesSent() const { return sent_; }

private:
    void acceptLoop();
    void handle(int fd);

    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> sent_{0};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::map<std::string, Reply> replies_;
    std::vector<std::string> agents_, paths_;
    std::vector<std::thread> workers_;
};

}  // namespace testsupport
