// The demo server's reading of a request (requestTarget) and its path check (servedPath and
// openServed) on a folder holding files, a subfolder, links out and in, and a named pipe.
// Input: the request head. Whatever is asked, what opens is one of the regular files inside.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "tools/demo/demo_serve.h"

namespace {

namespace fs = std::filesystem;

struct Tree {
    fuzzsupport::TempDir tmp{"demo-request"};
    int dirFd = -1;
    std::vector<std::pair<dev_t, ino_t>> inside;  // the files that may be served

    Tree() {
        const std::string served = tmp.path() + "/served";
        fs::create_directories(served + "/sub/deeper");
        std::ofstream(tmp.path() + "/secret") << "secret";
        for (const char* name : {"a.txt", "sub/b.txt", "sub/deeper/c.txt"}) {
            std::ofstream(served + "/" + name) << name;
            struct stat st {};
            ::stat((served + "/" + name).c_str(), &st);
            inside.emplace_back(st.st_dev, st.st_ino);
        }
        std::error_code ec;
        fs::create_symlink("../secret", served + "/link-out", ec);
        fs::create_symlink("a.txt", served + "/link-in", ec);
        fs::create_directory_symlink("..", served + "/sub/up", ec);
        fs::create_directory_symlink(tmp.path(), served + "/top", ec);
        ::mkfifo((served + "/fifo").c_str(), 0600);
        dirFd = ::open(served.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Tree tree;
    const std::string head(reinterpret_cast<const char*>(data), size);
    const std::string target = demo::requestTarget(head);
    if (target.find_first_of(" \r\n") != std::string::npos) fuzzsupport::fail("a target with a space or line end");
    const std::string path = demo::servedPath("/d", target);
    if (!path.empty()) {
        if (path.rfind("/d/", 0) != 0) fuzzsupport::fail("a path outside the folder: " + path);
        const std::string rel = "/" + path.substr(3) + "/";
        for (const char* bad : {"//", "/./", "/../"})
            if (rel.find(bad) != std::string::npos) fuzzsupport::fail("a path leaving its segments: " + path);
    }
    const int fd = demo::openServed(tree.dirFd, target);
    if (fd >= 0) {
        if (path.empty()) fuzzsupport::fail("opened what the path check refuses: " + target);
        struct stat st {};
        bool known = false;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
            for (const auto& [dev, ino] : tree.inside) known = known || (st.st_dev == dev && st.st_ino == ino);
        ::close(fd);
        if (!known) fuzzsupport::fail("served something that is not a file inside: " + target);
    }
    return 0;
}
