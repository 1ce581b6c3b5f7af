#pragma once
// The X display the test command gave a real-window test (see ctest_display.cpp), and how a window
// test ends when it cannot draw on it: it fails, where it would otherwise pass having drawn nothing;
// given none (no X server on the machine), it is skipped with the reason.
#include <gtest/gtest.h>

#include <string>

namespace testsupport {

// The display CTest handed this test from the test command's displays (":101"); empty when none.
std::string givenDisplay();

// Why a window test cannot draw on `opened`, the display its X connection reached (empty: none);
// empty when it may: the display given, or any when none was.
std::string displayTrouble(const std::string& opened);

}  // namespace testsupport

// Ends the test, failed or skipped as above, unless it may draw on `opened`.
#define LUMO_NEED_DISPLAY(opened)                                                    \
    do {                                                                             \
        const std::string lumo_trouble = testsupport::displayTrouble(opened);        \
        if (lumo_trouble.empty()) break;                                             \
        if (!testsupport::givenDisplay().empty()) FAIL() << lumo_trouble;            \
        GTEST_SKIP() << "skipped: " << lumo_trouble;                                 \
    } while (false)
