// tqm::parseCatalog on any text, then verifySignature over the same text with signature and key
// texts from the input (a seed holds a signed pair).
// Input: catalog text NUL signature NUL keys (no keys: the built-in ones).
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/catalog.h"
#include "engine/signature.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto parts = fuzzsupport::splitNul(data, size, 3);
    tqm::Catalog catalog;
    std::string error;
    const bool ok = tqm::parseCatalog(parts[0], catalog, error);
    if (!ok && error.empty()) fuzzsupport::fail("parseCatalog failed without a message");
    if (ok) {
        for (const tqm::Plugin& p : catalog.plugins) (void)catalog.find(p.id);
        (void)catalog.managerPackage();
    }
    std::string sigError;
    const std::string& keys = parts[2].empty() ? tqm::builtinKeys() : parts[2];
    if (!tqm::verifySignature(parts[0], parts[1], keys, sigError) && sigError.empty())
        fuzzsupport::fail("verifySignature failed without a message");
    return 0;
}
