// The manager's settings file: reading any file text, and rewriting it for one key.
//
// Input: key, NUL, value, NUL, the file text. A refused write (a key or value holding a line
// break, a key holding "=") leaves the file as it was. Any other write leaves the file's other
// lines byte for byte (every line that is empty or of the key dropped), the key's line last, and
// reading the key gives the value.
#include <cstddef>
#include <cstdint>
#include <string>

#include "manager/model/settings_file.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/temp_home.h"

namespace {

// What a rewrite must leave, worked out line by line from the old text.
std::string expectedRewrite(const std::string& old, const std::string& key, const std::string& value) {
    std::string out;
    size_t at = 0;
    while (at < old.size()) {
        size_t end = old.find('\n', at);
        if (end == std::string::npos) end = old.size();
        const std::string raw = old.substr(at, end - at);
        std::string content = raw;
        if (!content.empty() && content.back() == '\r') content.pop_back();
        if (!content.empty() && content.compare(0, key.size() + 1, key + "=") != 0) out += raw + "\n";
        at = end + 1;
    }
    return out + key + "=" + value + "\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzzsupport::TempDir dir("settings");
    const std::string path = dir.path() + "/settings.txt";
    const auto parts = fuzzsupport::splitNul(data, size, 3);
    const std::string &key = parts[0], &value = parts[1], &old = parts[2];
    if (!testsupport::writeFile(path, old)) fuzzsupport::fail("cannot write the input file");

    tqapp::readSettings(path, [&](const std::string& k, const std::string& v) {
        if (k.find('=') != std::string::npos || k.find('\n') != std::string::npos || v.find('\n') != std::string::npos)
            fuzzsupport::fail("a setting read across a line or an \"=\"");
    });

    const bool refused = key.find_first_of("\r\n=") != std::string::npos || value.find_first_of("\r\n") != std::string::npos;
    const bool written = tqapp::writeSetting(path, key, value);
    if (written == refused) fuzzsupport::fail(refused ? "a refused setting was written" : "a plain setting was refused");
    const std::string now = testsupport::readFile(path);
    if (refused) {
        if (now != old) fuzzsupport::fail("a refused write changed the file");
        return 0;
    }
    if (now != expectedRewrite(old, key, value)) fuzzsupport::fail("the rewrite changed another line");
    if (tqapp::settingValue(path, key) != value) fuzzsupport::fail("the key does not read back its value");
    return 0;
}
