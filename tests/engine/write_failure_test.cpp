// A write that fails half-way (a full disk; here the file-size limit of a forked child, with
// SIGXFSZ ignored so that write answers EFBIG) leaves every file it was replacing byte for byte
// as it was and no temporary file beside it.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "engine/load.h"
#include "engine/receipt.h"
#include "tests/support/job_fixture.h"
#include "tests/support/temp_home.h"
#include "tools/catalog_signing.h"

namespace {

using testsupport::entryNames;
using testsupport::readFile;
using testsupport::writeFile;

// Runs body in a child whose files may not grow past limit bytes; answers the child's exit code.
int inLimitedChild(rlim_t limit, const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit r{limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &r) != 0) ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

class WriteFailure : public testsupport::TempHomeTest {
protected:
    // Every file below dir with its bytes.
    std::map<std::string, std::string> snapshot(const std::string& dir) const {
        std::map<std::string, std::string> out;
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            if (it->is_regular_file()) out[it->path().string()] = readFile(it->path().string());
        return out;
    }
};

TEST_F(WriteFailure, LeavesTheCachedCatalogTheStateAndTheReceiptsAsTheyWere) {
    const catalogsign::KeyPair key = catalogsign::makeKeyPair();
    const std::string keys = catalogsign::toHex(key.publicKey);
    auto publish = [&](int sequence, size_t padding) {
        const std::string text = "{\"schema\": 1, \"sequence\": " + std::to_string(sequence) +
                                 ", \"published\": \"" + std::string(padding, 'p') + "\", \"plugins\": []}\n";
        writeFile(path("src/catalog.json"), text);
        writeFile(path("src/catalog.json.sig"), catalogsign::signBase64(key.secretKey, text));
    };
    const std::string data = path("data");
    publish(7, 10);
    ASSERT_TRUE(tqm::loadCatalog(tqm::Source(path("src")), keys, data, false).ok);
    tqm::Receipt receipt;
    receipt.catalog_sequence = 7;
    receipt.plugins["synth"].formats["vst3"] = {"1.0", "/x/Synth.vst3", std::string(64, 'a'), "t", "", ""};
    std::string error;
    ASSERT_TRUE(receipt.save(data + "/installed.json", error)) << error;
    ASSERT_TRUE(receipt.save(data + "/apps.json", error)) << error;
    const auto before = snapshot(data);
    ASSERT_EQ(before.size(), 6u);  // with the empty state.lock

    // Each writer in turn, with a limit that lets the new files start but not finish; at 200 bytes
    // the new signature and state.json would fit, the catalog would not.
    publish(8, 5000);
    auto load = [&] { return tqm::loadCatalog(tqm::Source(path("src")), keys, data, false).ok ? 0 : 1; };
    struct Case {
        const char* what;
        rlim_t limit;
        std::function<int()> write;
    } table[] = {
        {"catalog load", 20, load},
        {"catalog load, the signature fits", 200, load},
        {"receipt", 200,
         [&] {
             tqm::Receipt bigger = receipt;
             bigger.plugins["synth"].formats["clap"] = {"2.0", "/x/" + std::string(3000, 'c'), "", "t", "", ""};
             std::string e;
             return bigger.save(data + "/installed.json", e) ? 2 : 0;
         }},
        {"apps receipt", 200,
         [&] {
             tqm::Receipt bigger = receipt;
             bigger.catalog_sequence = 8000000;
             bigger.plugins["studio"].formats["app"] = {"2.0", "/x/" + std::string(3000, 's'), "", "t", "S", "S"};
             std::string e;
             return bigger.save(data + "/apps.json", e) ? 2 : 0;
         }},
    };
    for (const Case& c : table) {
        EXPECT_EQ(inLimitedChild(c.limit, c.write), 0) << c.what;
        EXPECT_EQ(snapshot(data), before) << c.what;
        EXPECT_EQ(entryNames(data), (std::vector<std::string>{"apps.json", "cache", "installed.json", "state.json", "state.lock"}))
            << c.what;
        EXPECT_EQ(entryNames(data + "/cache"), (std::vector<std::string>{"catalog.json", "catalog.json.sig"}))
            << c.what;
    }

    // Without the limit the same writes go through.
    ASSERT_TRUE(tqm::loadCatalog(tqm::Source(path("src")), keys, data, false).ok);
    EXPECT_EQ(readFile(data + "/cache/catalog.json"), readFile(path("src/catalog.json")));
    EXPECT_EQ(readFile(data + "/state.json"), "{\"max_sequence\": 8}\n");
}

}  // namespace
