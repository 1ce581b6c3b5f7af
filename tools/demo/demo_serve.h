#pragma once
// A small web server for the demo catalog on 127.0.0.1, so the manager shows download progress.
// One thread gathers the request heads of all connections, each head within a time limit as a
// whole: a client that sends its head slowly holds its own connection and nothing more. A fixed
// number of connections with a whole head is answered at once, each with a time limit on
// silence; files are streamed from disk. Only regular files reached below the folder without
// passing a link are served; everything else answers 404.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace demo {

// The slowest pace a transfer is held to: a slice of 1 KiB every twentieth of a second.
constexpr uint64_t kLeastRate = 20480;

struct ServeOptions {
    int port = 0;          // 0: a free one
    uint64_t rate = 0;     // bytes per second each transfer is held to; 0 as fast as it goes
    int connections = 32;  // answered at once; further whole requests wait their turn
    // A connection that sends nothing, or takes nothing of the answer, for this long is closed.
    std::chrono::milliseconds idle{10000};
    // A connection whose request head is not whole this long after it was accepted is closed.
    std::chrono::milliseconds head{5000};
};

class Server {
public:
    Server() = default;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    ~Server();

    // Opens the folder and listens; false with a message when either fails.
    bool listen(const std::string& dir, const ServeOptions& options, std::string& error);
    int port() const { return port_; }
    // Serves until stop.
    void run();
    // Any thread: run returns once the connections being served are dropped.
    void stop();
    // Connections being answered right now.
    int serving() const { return serving_; }

private:
    struct Request {
        int fd;
        std::string head;
    };
    void gatherHeads();
    void serveRequests();
    void answer(int fd, const std::string& head);

    ServeOptions options_;
    int dirFd_ = -1;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};  // a byte written to [1] wakes the head thread to see stop
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> serving_{0};
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Request> requests_;  // whole heads waiting for an answering thread
};

// Serves the files below dir until the process ends. Prints the base address once listening;
// false with a message when it cannot listen.
bool serveFolder(const std::string& dir, const ServeOptions& options, std::string& error);

// The target of a GET request's head ("GET /a/b HTTP/1.1..."); empty for anything else.
std::string requestTarget(const std::string& head);

// The file a request path names below dir: plain names only (no "..", "." or empty segment, no
// backslash, percent sign or control byte); empty for anything else. A query or fragment is dropped.
std::string servedPath(const std::string& dir, const std::string& target);

// Opens what the request path names below the open folder dirFd, as servedPath allows it, without
// passing any link and without blocking on what is not a file; the descriptor of a regular file,
// or -1.
int openServed(int dirFd, const std::string& target);

}  // namespace demo
