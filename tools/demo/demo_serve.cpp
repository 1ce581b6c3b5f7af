#include "tools/demo/demo_serve.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
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
// Connections held at once while their heads come or wait for an answer; more wait to be accepted.
constexpr size_t kMostWaiting = 256;

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
    closeFd(wakeFds_[0]);
    closeFd(wakeFds_[1]);
}

bool Server::listen(const std::string& dir, const ServeOptions& options, std::string& error) {
    options_ = options;
    options_.connections = std::max(1, options_.connections);
    dirFd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) {
        error = "cannot serve " + dir + ": " + std::strerror(errno);
        return false;
    }
    if (::pipe2(wakeFds_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("cannot serve: ") + std::strerror(errno);
        return false;
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
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
    // Each answering thread takes one whole request at a time: as many are answered at once as
    // there are threads. The heads themselves are gathered by this thread, for all connections.
    std::vector<std::thread> threads;
    for (int i = 0; i < options_.connections; ++i) threads.emplace_back([this] { serveRequests(); });
    gatherHeads();
    stop();  // the answering threads too, when gathering ended on its own
    for (std::thread& t : threads) t.join();
    for (Request& r : requests_) closeFd(r.fd);
    requests_.clear();
}

void Server::stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    ready_.notify_all();
    if (wakeFds_[1] >= 0) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t n = ::write(wakeFds_[1], &byte, 1);
    }
}

void Server::gatherHeads() {
    using Clock = std::chrono::steady_clock;
    struct Coming {
        int fd;
        std::string head;
        Clock::time_point whole;   // the head's deadline
        Clock::time_point silent;  // closed when nothing more came by then
    };
    std::vector<Coming> coming;
    std::vector<pollfd> polled;
    Clock::time_point acceptAgain{};  // after a failed accept (out of descriptors): a pause, not a spin
    while (!stopping_) {
        Clock::time_point now = Clock::now();
        size_t waiting = coming.size();
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            waiting += requests_.size();
        }
        const bool accepting = waiting < kMostWaiting && now >= acceptAgain;
        polled.assign({{wakeFds_[0], POLLIN, 0}, {accepting ? listenFd_ : -1, POLLIN, 0}});
        // Not accepting: look again after the pause, or soon when answering threads free room.
        Clock::time_point next = accepting ? Clock::time_point::max()
                                 : now < acceptAgain ? acceptAgain
                                                     : now + std::chrono::milliseconds(50);
        for (const Coming& c : coming) {
            polled.push_back({c.fd, POLLIN, 0});
            next = std::min({next, c.whole, c.silent});
        }
        int timeout = -1;
        if (next != Clock::time_point::max())
            timeout = int(std::clamp<int64_t>(
                std::chrono::ceil<std::chrono::milliseconds>(next - now).count(), 0, 60000));
        if (::poll(polled.data(), polled.size(), timeout) < 0 && errno != EINTR) break;
        if (stopping_) break;
        now = Clock::now();

        std::vector<Coming> still;
        for (size_t i = 0; i < coming.size(); ++i) {
            Coming& c = coming[i];
            bool whole = false, gone = false;
            if (polled[i + 2].revents) {
                char buf[4096];
                const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
                if (n > 0) {
                    c.head.append(buf, size_t(n));
                    c.silent = now + options_.idle;
                    whole = c.head.find("\r\n\r\n") != std::string::npos || c.head.size() >= kLargestHead;
                } else {
                    gone = n == 0 || (errno != EINTR && errno != EAGAIN);
                }
            }
            if (whole) {
                ::fcntl(c.fd, F_SETFL, ::fcntl(c.fd, F_GETFL) & ~O_NONBLOCK);
                {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    requests_.push_back({c.fd, std::move(c.head)});
                }
                ready_.notify_one();
            } else if (gone || now >= c.whole || now >= c.silent) {
                closeFd(c.fd);  // closed by the client, or too slow: the connection goes, nothing else
            } else {
                still.push_back(std::move(c));
            }
        }
        coming.swap(still);

        for (size_t room = kMostWaiting - waiting; accepting && polled[1].revents && room > 0; --room) {
            const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (client < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK) acceptAgain = now + std::chrono::milliseconds(50);
                break;
            }
            coming.push_back({client, {}, now + options_.head, now + options_.idle});
        }
    }
    for (Coming& c : coming) closeFd(c.fd);
}

void Server::serveRequests() {
    for (;;) {
        Request request;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ready_.wait(lock, [this] { return stopping_ || !requests_.empty(); });
            if (stopping_) return;
            request = std::move(requests_.front());
            requests_.pop_front();
        }
        ++serving_;
        answer(request.fd, request.head);
        ::close(request.fd);
        --serving_;
    }
}

void Server::answer(int fd, const std::string& head) {
    timeval idle{};
    idle.tv_sec = time_t(options_.idle.count() / 1000);
    idle.tv_usec = suseconds_t(options_.idle.count() % 1000 * 1000);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &idle, sizeof idle);

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
