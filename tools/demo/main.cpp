// ardune-demo-catalog: the demo catalog for trying the manager without the maker's server.
//   ardune-demo-catalog make DIR [--bundle APP] [--entries N] [--padding-kb K]
//       writes DIR/keys (the key pair), DIR/catalog (the signed catalog and its packages, a folder
//       source) and DIR/root (what an older catalog installed); APP, the manager's bundle, is
//       packed again at a newer version as the manager's own update
//   ardune-demo-catalog serve DIR [--port P] [--rate BYTES_PER_SECOND]
//       serves DIR over HTTP on 127.0.0.1 (port 0 or none: a free one); prints the base address
#include <cstdio>
#include <cstdlib>
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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string command = argv[1], dir = argv[2];
    demo::Options o;
    o.out = dir;
    int port = 0;
    unsigned long long rate = 0;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--bundle")
            o.bundle = value;
        else if (key == "--entries")
            o.entries = std::atoi(value.c_str());
        else if (key == "--padding-kb")
            o.paddingKb = std::atoi(value.c_str());
        else if (key == "--port")
            port = std::atoi(value.c_str());
        else if (key == "--rate")
            rate = std::strtoull(value.c_str(), nullptr, 10);
        else
            return usage();
    }
    if ((argc - 3) % 2 != 0 || o.entries < 0 || o.paddingKb < 0 || port < 0 || port > 65535) return usage();
    std::string error;
    if (command == "make") {
        if (!demo::makeDemo(o, error)) {
            std::fprintf(stderr, "ardune-demo-catalog: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (command == "serve") {
        if (!demo::serveFolder(dir, port, rate, error)) {
            std::fprintf(stderr, "ardune-demo-catalog: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    return usage();
}
