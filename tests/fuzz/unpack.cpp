// tqm::detail::unpack of any bytes into a fresh folder per run. The folder sits at the end of a
// chain of empty folders; afterwards nothing may exist in the chain but the chain itself and
// whatever lies inside the target, so an entry or link that escapes is caught at any depth
// the chain covers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/unpack.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr const char* kItem = "Synth.vst3";
constexpr int kChain = 8;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::TempDir base("unpack");
    std::string chain;
    for (int i = 0; i < kChain; ++i) chain += "w/";
    const std::string dest = base.path() + "/" + chain + "dest";

    std::string error;
    const bool ok = tqm::detail::unpack(std::string(reinterpret_cast<const char*>(data), size), dest, kItem, error);
    if (!ok && error.empty()) fuzzsupport::fail("unpack failed without a message");

    const std::string inside = chain + "dest";
    for (const std::string& rel : fuzzsupport::treeBelow(base.path())) {
        const bool onChain = (chain + "dest").compare(0, rel.size(), rel) == 0 &&
                             (rel.size() == inside.size() || inside[rel.size()] == '/');
        const bool below = rel.compare(0, inside.size() + 1, inside + "/") == 0;
        if (!onChain && !below) fuzzsupport::fail("written outside the target: " + rel);
    }
    return 0;
}
