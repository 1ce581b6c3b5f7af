#pragma once
// A temporary folder per test with its own HOME, removed afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::string& dir() const { return dir_; }    // the test's own folder
    const std::string& home() const { return home_; }  // HOME points here while the object lives
    std::string path(const std::string& rel) const { return dir_ + "/" + rel; }

private:
    std::string dir_, home_;
    std::string oldHome_;
    bool hadHome_ = false;
};

// Fixture form: every test of the suite gets a fresh TempHome.
class TempHomeTest : public ::testing::Test {
protected:
    TempHome temp;
    std::string path(const std::string& rel) const { return temp.path(rel); }
};

// Small file helpers for tests; parents are made as needed.
bool writeFile(const std::string& path, const std::string& data);
std::string readFile(const std::string& path);

// An install folder's sweep claim, which stays there for good once a sweep made it.
inline bool sweepClaim(const std::string& name) { return name == ".tqm-claim"; }

// Whether name is an entry of the install protocol that only a running or killed job leaves.
inline bool leftover(const std::string& name) { return name.rfind(".tqm-", 0) == 0 && !sweepClaim(name); }

// The names in a folder but a sweep claim, sorted; empty when it cannot be listed.
inline std::vector<std::string> entryNames(const std::string& dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(dir, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
        if (!sweepClaim(it->path().filename().string())) out.push_back(it->path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}
bool exists(const std::string& path);

}  // namespace testsupport
