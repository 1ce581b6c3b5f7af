#include "tools/demo/demo_serve.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

namespace demo {
namespace {

bool sendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

void answer(int fd, const std::string& dir, uint64_t rate) {
    std::string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return;
        request.append(buf, size_t(n));
    }
    const size_t sp1 = request.find(' '), sp2 = request.find(' ', sp1 + 1);
    const bool get = request.compare(0, 4, "GET ") == 0 && sp2 != std::string::npos;
    const std::string path = get ? servedPath(dir, request.substr(sp1 + 1, sp2 - sp1 - 1)) : std::string();
    std::string body;
    bool found = false;
    if (!path.empty()) {
        std::ifstream in(path, std::ios::binary);
        if (in) {
            body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            found = !in.bad();
        }
    }
    const std::string head = std::string(found ? "HTTP/1.0 200 OK" : "HTTP/1.0 404 Not Found") +
                             "\r\nContent-Length: " + std::to_string(found ? body.size() : 0) +
                             "\r\nConnection: close\r\n\r\n";
    if (!sendAll(fd, head.data(), head.size()) || !found) return;
    // Paced in slices of a twentieth of a second.
    const size_t slice = rate ? std::max<size_t>(1024, size_t(rate / 20)) : body.size();
    for (size_t at = 0; at < body.size(); at += slice) {
        if (!sendAll(fd, body.data() + at, std::min(slice, body.size() - at))) return;
        if (rate) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace

std::string servedPath(const std::string& dir, const std::string& target) {
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
    return dir + "/" + t;
}

bool serveFolder(const std::string& dir, int port, uint64_t rate, std::string& error) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        error = std::string("cannot listen on 127.0.0.1:") + std::to_string(port) + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    std::printf("http://127.0.0.1:%d/\n", int(ntohs(addr.sin_port)));
    std::fflush(stdout);
    for (;;) {
        const int client = ::accept(fd, nullptr, nullptr);
        if (client < 0) continue;
        std::thread([client, dir, rate] {
            answer(client, dir, rate);
            ::close(client);
        }).detach();
    }
}

}  // namespace demo
