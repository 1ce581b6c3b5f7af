// The program's command line (parseEntryOptions) and the words a restart passes on (restartWords).
// Input: the words, separated by NUL bytes. A refusal always says why; accepted options stay within
// their limits; and the words passed on by a restart are accepted again by the new instance.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/options.h"
#include "manager/view/view.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words;
    const char* p = reinterpret_cast<const char*>(data);
    const char* end = p + size;
    for (const char* at = p; at <= end; ++at)
        if (at == end || *at == '\0') {
            words.emplace_back(p, at);
            p = at + 1;
        }
    tqapp::EntryOptions o;
    std::string error;
    const bool ok = tqapp::parseEntryOptions(words, o, error);
    if (!ok && error.empty()) fuzzsupport::fail("refused without a message");
    const std::vector<std::string> kept = tqapp::restartWords(words);
    if (kept.size() > words.size()) fuzzsupport::fail("a restart passes on more words than it was given");
    if (!ok || o.help) return 0;
    if (o.width < 0 || o.height < 0 || o.width > tqapp::kLargestPaintSide || o.height > tqapp::kLargestPaintSide ||
        (o.zoom != 0 && (o.zoom < 0.25 || o.zoom > 8)) || (o.scale != 0 && (o.scale < 0.5 || o.scale > 8)))
        fuzzsupport::fail("accepted options out of their limits");
    const double factor = (o.zoom > 0 ? o.zoom : 1.0) * (o.scale > 0 ? o.scale : 1.0);
    if (!tqapp::paintableSize(o.width * factor, o.height * factor, error))
        fuzzsupport::fail("accepted a size too large to paint");
    tqapp::EntryOptions again;
    if (!tqapp::parseEntryOptions(kept, again, error)) fuzzsupport::fail("the restarted instance refuses: " + error);
    if (again.headless()) fuzzsupport::fail("a restart passes on a screenshot or a tree dump");
    return 0;
}
