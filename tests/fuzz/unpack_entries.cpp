// tqm::detail::unpack of hand-assembled zips whose entries the input describes: names and link
// texts built from path pieces that matter (the item, "..", ".", empty ones, back slashes),
// files, folders, links and odd modes, repeated names kept. Checked like fuzz_unpack: nothing
// may appear outside the target folder, and no link of an accepted package may lead out of it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/unpack.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/zip_maker.h"

namespace {

constexpr const char* kItem = "Synth.vst3";

std::string path(FuzzedDataProvider& in) {
    static const char* const pieces[] = {kItem, "..", ".", "", "a", "b", "Contents", "x\\y", "c:", "/"};
    std::string out;
    const int count = in.ConsumeIntegralInRange<int>(1, 6);
    for (int i = 0; i < count; ++i) {
        if (i) out += '/';
        const size_t pick = in.ConsumeIntegralInRange<size_t>(0, sizeof pieces / sizeof pieces[0]);
        out += pick < sizeof pieces / sizeof pieces[0] ? std::string(pieces[pick]) : in.ConsumeRandomLengthString(8);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace testsupport;
    FuzzedDataProvider in(data, size);
    std::vector<RawEntry> entries;
    const int count = in.ConsumeIntegralInRange<int>(1, 8);
    for (int i = 0; i < count && in.remaining_bytes() > 0; ++i) {
        std::string name = path(in);
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: entries.emplace_back(name, in.ConsumeRandomLengthString(16), unixAttr(kFileMode | 0644)); break;
        case 1: entries.emplace_back(name + "/", "", unixAttr(kDirMode | 0755)); break;
        case 2: entries.emplace_back(name, path(in), unixAttr(kLinkMode | 0777)); break;
        default: entries.emplace_back(name, in.ConsumeRandomLengthString(8), in.ConsumeIntegral<uint32_t>()); break;
        }
    }
    if (entries.empty()) return 0;

    fuzzsupport::TempDir base("unpack-entries");
    const std::string inside = "w/w/w/w/w/w/w/w/dest";
    std::string error;
    const std::string dest = base.path() + "/" + inside;
    const bool ok = tqm::detail::unpack(rawZip(entries), dest, kItem, error);
    if (!ok && error.empty()) fuzzsupport::fail("unpack failed without a message");
    const std::string stray = fuzzsupport::strayEntry(base.path(), inside);
    if (!stray.empty()) fuzzsupport::fail("written outside the target: " + stray);
    const std::string link = ok ? fuzzsupport::escapingLink(dest, dest + "/" + kItem) : std::string();
    if (!link.empty()) fuzzsupport::fail("an accepted package holds a link out of its item: " + link);
    return 0;
}
