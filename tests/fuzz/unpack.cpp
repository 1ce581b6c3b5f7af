// tqm::detail::unpack of any bytes into a fresh folder per run. The folder sits at the end of a
// chain of empty folders; afterwards nothing may exist in the chain but the chain itself and
// whatever lies inside the target, so an entry or link that escapes is caught at any depth
// the chain covers. No link of an accepted package may lead out of its item.
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

    const std::string stray = fuzzsupport::strayEntry(base.path(), chain + "dest");
    if (!stray.empty()) fuzzsupport::fail("written outside the target: " + stray);
    const std::string link = ok ? fuzzsupport::escapingLink(dest, dest + "/" + kItem) : std::string();
    if (!link.empty()) fuzzsupport::fail("an accepted package holds a link out of its item: " + link);
    return 0;
}
