// ardune-demo-catalog: the demo catalog for trying the manager without the maker's server.
//   ardune-demo-catalog make DIR [--bundle APP] [--entries N] [--padding-kb K]
//       writes DIR/keys (the key pair), DIR/catalog (the signed catalog and its packages, a folder
//       source) and DIR/root (what an older catalog installed); APP, the manager's bundle, is
//       packed again at a newer version as the manager's own update
//   ardune-demo-catalog serve DIR [--port P] [--rate BYTES_PER_SECOND]
//       serves DIR over HTTP on 127.0.0.1 (port 0 or none: a free one); prints the base address
#include <charconv>
#include <cstdio>
#include <string>

#include "tools/demo/demo_catalog.h"
#include "tools/demo/demo_serve.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: ardune-demo-catalog make DIR [--bundle APP] [--entries N] [--padding-kb K]\n"
                 "       ardune-demo-catalog serve DIR [--port P] [--rate BYTES_PER_SECOND]\n");
    return 2;
}

int refuse(const std::string& why) {
    std::fprintf(stderr, "ardune-demo-catalog: %s\n", why.c_str());
    return 2;
}

// A whole decimal number from 0 to most, and nothing else.
bool parseCount(const std::string& text, unsigned long long most, unsigned long long& value) {
    const char* end = text.data() + text.size();
    auto [at, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && at == end && value <= most;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || (argc - 3) % 2 != 0) return usage();
    const std::string command = argv[1], dir = argv[2];
    if (command != "make" && command != "serve") return usage();
    demo::Options o;
    o.out = dir;
    demo::ServeOptions serve;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        unsigned long long n = 0;
        if (command == "make" && key == "--bundle") {
            o.bundle = value;
        } else if (command == "make" && key == "--entries") {
            if (!parseCount(value, 100000, n)) return refuse("--entries wants a whole number up to 100000: " + value);
            o.entries = int(n);
        } else if (command == "make" && key == "--padding-kb") {
            if (!parseCount(value, 1 << 20, n)) return refuse("--padding-kb wants a whole number of KiB: " + value);
            o.paddingKb = int(n);
        } else if (command == "serve" && key == "--port") {
            if (!parseCount(value, 65535, n)) return refuse("--port wants a number from 0 to 65535: " + value);
            serve.port = int(n);
        } else if (command == "serve" && key == "--rate") {
            // Transfers are paced in slices of at least 1 KiB; a slower pace cannot be kept.
            if (!parseCount(value, ~0ull, n) || (n > 0 && n < demo::kLeastRate))
                return refuse("--rate wants 0 (as fast as it goes) or at least " + std::to_string(demo::kLeastRate) +
                              " bytes a second: " + value);
            serve.rate = n;
        } else {
            return usage();
        }
    }
    std::string error;
    const bool ok = command == "make" ? demo::makeDemo(o, error) : demo::serveFolder(dir, serve, error);
    if (!ok) {
        std::fprintf(stderr, "ardune-demo-catalog: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
