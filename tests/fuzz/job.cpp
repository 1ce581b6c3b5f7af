// The elevated helper's reading of its command line (parseHelperArgs) and of "job.json"
// (applyJob), against a signed catalog cached with real packages.
//
// Input: helper words separated by LF, NUL, the job text. In the job text "@DATA@" stands for
// the cached data folder and "@ROOT@" for this run's root, so the fuzzer can reach past the
// folder checks. Every run has a fresh root at the end of a chain of empty folders; afterwards
// nothing may have changed in the chain outside that root, nor in the data folder (whose job lock
// the fixture makes).
//
// The job's "folders" are per-format install folders and, like the helper's paths, are trusted
// by design: a job naming a folder outside this run's root, or asking for the manager's own
// update (which would replace this program), is not run.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/jobs.h"
#include "engine/load.h"
#include "engine/source.h"
#include "json/json.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/job_fixture.h"

namespace {

struct Fixture {
    fuzzsupport::TempDir base{"job"};
    std::string data;  // the unprivileged side's data folder: cached catalog and packages
    std::string keys;
    std::vector<std::string> dataTree;

    Fixture() {
        ::setenv("HOME", (base.path() + "/home").c_str(), 1);
        testsupport::JobCatalog catalog(base.path() + "/source");
        catalog.publish(catalog.text("1.0.0"));
        keys = catalog.publicKeyHex();
        tqm::Source source(base.path() + "/source");
        tqm::Engine engine;
        engine.layout.root = base.path() + "/side";
        engine.source = &source;
        data = engine.layout.userData();
        tqm::LoadedCatalog loaded = tqm::loadCatalog(source, keys, data, false);
        if (!loaded.ok) fuzzsupport::fail("fixture catalog: " + loaded.note);
        std::string bytes, error;
        for (const char* id : {"synth", "studio"}) {
            const tqm::Plugin* entry = loaded.catalog.find(id);
            if (!entry || !engine.download(*entry, entry->is_app ? "app" : "vst3", bytes, error, {}))
                fuzzsupport::fail("fixture download: " + error);
        }
        // Every job takes the data folder's job lock: its file is the one thing a job adds there.
        if (!tqm::JobLock(engine, data).held()) fuzzsupport::fail("fixture job lock");
        dataTree = fuzzsupport::treeBelow(data);
    }
};

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

bool under(const std::string& path, const std::string& root) {
    return path.compare(0, root.size() + 1, root + "/") == 0 && path.find("/..") == std::string::npos;
}

// Whether the helper may run this job in the harness (see the top of the file).
bool runnable(const std::string& text, const std::string& root) {
    const lumo::Json job = lumo::Json::parse(text);
    for (const auto& [format, folder] : job["folders"].object())
        if (!folder.string().empty() && !under(folder.string(), root)) return false;
    for (const lumo::Json& t : job["tasks"].array())
        if (t["op"].string() == "self") return false;
    return true;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t lf = text.find('\n', start);
        out.push_back(text.substr(start, lf == std::string::npos ? std::string::npos : lf - start));
        if (lf == std::string::npos) return out;
        start = lf + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixture fixture;
    const auto parts = fuzzsupport::splitNul(data, size, 2);

    fuzzsupport::TempDir run("job-run");
    const std::string chain = run.path() + "/w/w/w/w";
    const std::string root = chain + "/root";
    std::error_code ec;
    std::filesystem::create_directories(chain, ec);
    const std::string text = replaceAll(replaceAll(parts[1], "@DATA@", fixture.data), "@ROOT@", root);
    if (!runnable(text, root)) return -1;

    tqm::jobs::HelperArgs args = tqm::jobs::parseHelperArgs(lines(parts[0]));
    args.layout.root = root;  // the helper's folders are the caller's choice; here they stay inside
    if (!args.job.empty()) args.job = run.path() + "/job.json";
    if (!args.result.empty()) args.result = chain + "/result.txt";
    {
        std::ofstream out(run.path() + "/job.json", std::ios::binary);
        out.write(text.data(), std::streamsize(text.size()));
    }

    const int status = tqm::jobs::runHelper(args, fixture.keys);
    if (std::getenv("FUZZ_JOB_SHOW")) {
        std::ifstream in(chain + "/result.txt", std::ios::binary);
        std::fprintf(stderr, "status %d\n%s", status, std::string(std::istreambuf_iterator<char>(in), {}).c_str());
    }
    if (status != 0 && status != 1 && status != 2) fuzzsupport::fail("helper status " + std::to_string(status));

    for (const std::string& rel : fuzzsupport::treeBelow(run.path())) {
        if (rel == "job.json" || rel == "w" || rel == "w/w" || rel == "w/w/w" || rel == "w/w/w/w" ||
            rel == "w/w/w/w/result.txt" || rel == "w/w/w/w/root" || rel.compare(0, 13, "w/w/w/w/root/") == 0)
            continue;
        fuzzsupport::fail("written outside the job's folders: " + rel);
    }
    if (fuzzsupport::treeBelow(fixture.data) != fixture.dataTree) fuzzsupport::fail("the data folder changed");
    return 0;
}
