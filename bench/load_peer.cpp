// The peer of the window start benchmark (bench_app.cpp): a program that only loads the catalog
// (fetched, verified, parsed) and ends, 0 when it loaded.
//   bench_load_peer SOURCE PUB ROOT
#include <string>

#include "engine/layout.h"
#include "engine/load.h"
#include "engine/source.h"

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    tqm::Layout layout;
    layout.root = argv[3];
    const tqm::Source source(argv[1]);
    const tqm::LoadedCatalog loaded = tqm::loadCatalog(source, argv[2], layout.userData(), false);
    return loaded.ok ? 0 : 1;
}
