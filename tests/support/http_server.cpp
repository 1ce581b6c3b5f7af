#include "tests/support/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace testsupport {

namespace {

const char* reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

bool sendAll(int fd, const char* data, size_t size) {
    while (size) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

std::string header(const std::string& head, const std::string& name) {
    size_t at = 0;
    while ((at = head.find("\r\n", at)) != std::string::npos) {
        at += 2;
        if (head.size() - at > name.size() && strncasecmp(head.c_str() + at, name.c_str(), name.size()) == 0 &&
            head[at + name.size()] == ':') {
            size_t start = at + name.size() + 1;
            while (start < head.size() && head[start] == ' ') ++start;
            return head.substr(start, head.find("\r\n", start) - start);
        }
    }
    return std::string();
}

}  // namespace

LoopbackServer::LoopbackServer() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return;
    }
    listen_ = fd;
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    stop_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        workers.swap(workers_);
    }
    for (std::thread& t : workers) t.join();
    if (listen_ >= 0) ::close(listen_);
}

std::string LoopbackServer::url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

void LoopbackServer::serve(const std::string& path, Reply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[path] = std::move(reply);
}

std::vector<std::string> LoopbackServer::userAgents() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return agents_;
}

std::vector<std::string> LoopbackServer::paths() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return paths_;
}

void LoopbackServer::acceptLoop() {
    while (!stop_) {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        workers_.emplace_back([this, fd] {
            handle(fd);
            ::close(fd);
        });
    }
}

void LoopbackServer::handle(int fd) {
    // Read the request head, giving up when the server stops.
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        pollfd p{fd, POLLIN, 0};
        if (stop_) return;
        if (::poll(&p, 1, 20) <= 0) continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return;
        head.append(buf, size_t(n));
    }
    std::string path;
    const size_t sp = head.find(' ');
    if (sp != std::string::npos) {
        const size_t end = head.find(' ', sp + 1);
        path = head.substr(sp + 1, end == std::string::npos ? std::string::npos : end - sp - 1);
    }
    if (!path.empty() && path[0] == '/') path.erase(0, 1);
    Reply reply;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        agents_.push_back(header(head, "User-Agent"));
        paths_.push_back(path);
        auto it = replies_.find(path);
        if (it != replies_.end()) {
            reply = it->second;
        } else {
            reply.status = 404;
            reply.body = "not here\n";
        }
    }
    std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " + reason(reply.status) + "\r\n";
    out +=
        "Content-Length: " + std::to_string(reply.announce >= 0 ? reply.announce : int64_t(reply.body.size())) + "\r\n";
    if (!reply.location.empty()) out += "Location: " + reply.location + "\r\n";
    out += "Connection: close\r\n\r\n";
    if (!sendAll(fd, out.data(), out.size())) return;
    const size_t step = reply.chunk ? reply.chunk : reply.body.size();
    for (size_t at = 0; at < reply.body.size() && !stop_; at += step) {
        const size_t piece = std::min(step, reply.body.size() - at);
        if (!sendAll(fd, reply.body.data() + at, piece)) return;
        sent_ += piece;
        if (reply.chunk) std::this_thread::sleep_for(std::chrono::milliseconds(reply.pauseMs));
    }
    // A stalled reply holds the connection until the client leaves or the server stops.
    while (reply.stall && !stop_) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) > 0) {
            if (::recv(fd, buf, sizeof buf, 0) <= 0) return;
        }
    }
}

}  // namespace testsupport
