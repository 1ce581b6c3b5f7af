// The elevated helper's result file as the manager reads it: split into lines, each line then
// attributed to a task of the job and read as done or failed.
//
// Input: the job's tasks ("op id format" a line), NUL, the result file's text. Lines come out in
// order, none empty and none holding a line feed; a line counts as done exactly when it ends in
// ": ok"; a failed line's message is the text after its first ": " (the whole line without one);
// a line is given to a task only when its words before the first ": " are that task's.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/jobs.h"
#include "engine/util.h"
#include "manager/model/engine_calls.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto parts = fuzzsupport::splitNul(data, size, 2);
    std::vector<tqm::Task> tasks;
    for (const std::string& line : tqm::jobs::resultLines(parts[0])) {
        const std::vector<std::string> words = tqm::splitAt(line, ' ');
        if (words.size() == 3) tasks.push_back({words[0], words[1], words[2]});
    }

    const std::string& text = parts[1];
    const std::vector<std::string> lines = tqm::jobs::resultLines(text);
    size_t searchFrom = 0;
    for (const std::string& line : lines) {
        if (line.empty() || line.find('\n') != std::string::npos) fuzzsupport::fail("an empty or joined line");
        const size_t at = text.find(line, searchFrom);
        if (at == std::string::npos) fuzzsupport::fail("a line out of order or not in the text");
        searchFrom = at + line.size();

        const tqapp::calls::Result r = tqapp::calls::readLine(line, tasks);
        if (r.line != line) fuzzsupport::fail("the log line differs from the result line");
        if (r.ok != endsWith(line, ": ok")) fuzzsupport::fail("done read wrongly");
        const size_t sep = line.find(": ");
        if (!r.ok && r.message != (sep == std::string::npos ? line : line.substr(sep + 2)))
            fuzzsupport::fail("the failure's message is not the text after \": \"");
        if (r.ok && !r.message.empty()) fuzzsupport::fail("a done line with a message");
        if (!r.id.empty()) {
            bool named = false;
            for (const tqm::Task& t : tasks)
                named = named || (t.id == r.id && t.format == r.format &&
                                  line.substr(0, sep) == t.op + " " + t.id + " " + t.format);
            if (!named) fuzzsupport::fail("a line given to a task it does not name");
        }
    }
    return 0;
}
