#pragma once
// A temporary folder per test with its own HOME, removed afterwards.
#include <gtest/gtest.h>

#include <string>

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
bool exists(const std::string& path);

}  // namespace testsupport
