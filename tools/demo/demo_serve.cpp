#include "tools/demo/demo_serve.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace demo {
namespace {

constexpr size_t kLargestHead = 16384;

bool sendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // closed, or nothing taken within the time limit
        data += n;
        size -= size_t(n);
    }
    return true;
}

// The request path below the folder, without its leading "/": empty when refused.
std::string relativePath(const std::string& target) {
    std::string t = target.substr(0, target.find_first_of("?#"));
    if (t.empty() || t[0] != '/') return {};
    t.erase(0, 1);
    if (t.empty()) return {};
    size_t start = 0;
    while (start <= t.size()) {
        const size_t end = std::min(t.find('/', start), t.size());
        const std::string seg = t.substr(start, end - start);
        if (seg.empty() || seg == "." || seg == ".." || seg.find_first_of("\\%") != std::string::npos) return {};
        for (unsigned char c : seg)
            if (c < 32 || c == 127) return {};
        start = end + 1;
    }
    return t;
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

std::string requestTarget(const std::string& head) {
    if (head.compare(0, 4, "GET ") != 0) return {};
    const size_t end = head.find(' ', 4);
    if (end == std::string::npos) return {};
    const size_t line = head.find_first_of("\r\n");
    if (line != std::string::npos && line < end) return {};
    return head.substr(4, end - 4);
}

std::string servedPath(const std::string& dir, const std::string& target) {
    const std::string rel = relativePath(target);
    return rel.empty() ? std::string() : dir + "/" + rel;
}

int openServed(int dirFd, const std::string& target) {
    const std::string rel = relativePath(target);
    if (rel.empty() || dirFd < 0) return -1;
    int at = -1;  // the folder reached so far (-1: dirFd itself)
    size_t start = 0;
    for (;;) {
        const size_t slash = rel.find('/', start);
        const std::string name = rel.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        const int from = at >= 0 ? at : dirFd;
        if (slash == std::string::npos) {
            int fd = ::openat(from, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            closeFd(at);
            struct stat st {};
            if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) closeFd(fd);
            return fd;
        }
        const int next = ::openat(from, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        closeFd(at);
        if (next < 0) return -1;
        at = next;
        start = slash + 1;
    }
}

Server::~Server() {
    closeFd(listenFd_);
    closeFd(dirFd_);
}

bool Server::listen(const std::string& dir, const ServeOptions& options, std::string& error) {
    options_ = options;
    options_.connections = std::max(1, options_.connections);
    dirFd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) {
        error = "cannot serve " + dir + ": " + std::strerror(errno);
        return false;
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    if (listenFd_ >= 0) ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(options.port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 64) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(options.port) + ": " + std::strerror(errno);
        closeFd(listenFd_);
        return false;
    }
    port_ = ntohs(addr.sin_port);
    return true;
}

void Server::run() {
    // Each thread takes one connection at a time: as many are served at once as there are threads,
    // the others wait in the listen queue.
    std::vector<std::thread> threads;
    for (int i = 0; i < options_.connections; ++i) threads.emplace_back([this] { serveConnections(); });
    for (std::thread& t : threads) t.join();
}

void Server::stop() {
    stopping_ = true;
    if (listenFd_ >= 0) ::shutdown(listenFd_, SHUT_RDWR);  // wakes the threads waiting in accept
}

void Server::serveConnections() {
    while (!stopping_) {
        const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (stopping_) return;
            // Out of descriptors or memory for a moment: wait rather than spin.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        ++serving_;
        answer(client);
        ::close(client);
        --serving_;
    }
}

void Server::answer(int fd) {
    timeval idle{};
    idle.tv_sec = time_t(options_.idle.count() / 1000);
    idle.tv_usec = suseconds_t(options_.idle.count() % 1000 * 1000);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &idle, sizeof idle);

    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kLargestHead) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || stopping_) return;  // closed, silent too long, or the server stops
        head.append(buf, size_t(n));
    }
    int file = openServed(dirFd_, requestTarget(head));
    struct stat st {};
    if (file >= 0 && ::fstat(file, &st) != 0) closeFd(file);
    const std::string answerHead = std::string(file >= 0 ? "HTTP/1.0 200 OK" : "HTTP/1.0 404 Not Found") +
                                   "\r\nContent-Length: " + std::to_string(file >= 0 ? uint64_t(st.st_size) : 0) +
                                   "\r\nConnection: close\r\n\r\n";
    if (!sendAll(fd, answerHead.data(), answerHead.size()) || file < 0) {
        closeFd(file);
        return;
    }
    // Paced in slices of a twentieth of a second.
    const uint64_t rate = options_.rate;
    std::vector<char> slice(rate ? std::max<size_t>(1024, size_t(rate / 20)) : 65536);
    uint64_t left = uint64_t(st.st_size);
    while (left > 0 && !stopping_) {
        const ssize_t n = ::read(file, slice.data(), size_t(std::min<uint64_t>(slice.size(), left)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || !sendAll(fd, slice.data(), size_t(n))) break;
        left -= uint64_t(n);
        if (rate) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    closeFd(file);
}

bool serveFolder(const std::string& dir, const ServeOptions& options, std::string& error) {
    Server server;
    if (!server.listen(dir, options, error)) return false;
    std::printf("http://127.0.0.1:%d/\n", server.port());
    std::fflush(stdout);
    server.run();
    return true;
}

}  // namespace demo
