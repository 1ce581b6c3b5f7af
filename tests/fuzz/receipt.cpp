// tqm::Receipt::load of any file text. A receipt that loads must come back the same through
// save and load, and a failed load leaves the receipt empty and the file untouched.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/receipt.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), std::streamsize(text.size()));
    return bool(out);
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzzsupport::TempDir dir("receipt");
    const std::string path = dir.path() + "/installed.json";
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!writeText(path, text)) fuzzsupport::fail("cannot write the input file");

    tqm::Receipt r;
    std::string error;
    if (!r.load(path, error)) {
        if (error.empty()) fuzzsupport::fail("load failed without a message");
        if (!r.plugins.empty() || r.catalog_sequence != 0) fuzzsupport::fail("a failed load left data behind");
        if (readText(path) != text) fuzzsupport::fail("a failed load changed the file");
        return 0;
    }

    const std::string saved = dir.path() + "/again.json";
    if (!r.save(saved, error)) fuzzsupport::fail("a loaded receipt cannot be saved: " + error);
    tqm::Receipt again;
    if (!again.load(saved, error)) fuzzsupport::fail("a saved receipt does not load: " + error);
    if (tqm::receiptText(again) != tqm::receiptText(r)) fuzzsupport::fail("a receipt changed through save and load");
    for (const auto& [id, plugin] : r.plugins) (void)plugin.version();
    return 0;
}
