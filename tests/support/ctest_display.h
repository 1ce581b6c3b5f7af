#pragma once
// The X display the test command gave a real-window test (see ctest_display.cpp), and how a window
// test ends when it cannot reach one. Where the test command started displays for the window tests,
// a test that cannot open its own, or that opened another, fails: it would otherwise pass without
// having drawn anything. Where none was given (no X server on the machine), it is skipped with the
// reason, which CTest counts as skipped.
#include <gtest/gtest.h>

#include <string>

namespace testsupport {

// The display CTest handed this test from the test command's displays (":101"); empty when none.
std::string givenDisplay();

// Why a window test cannot run on `opened`, the name of the display an X connection of the test
// reached (empty when none could be opened); empty when it can: the display it was given, or any
// display when none was given.
std::string displayTrouble(const std::string& opened);

}  // namespace testsupport

// Ends the test unless `opened` is a display it may draw on: a failure when the test was given a
// display, a skip ("skipped: ...") when it was not.
#define LUMO_NEED_DISPLAY(opened)                                                    \
    do {                                                                             \
        const std::string lumo_trouble = testsupport::displayTrouble(opened);        \
        if (lumo_trouble.empty()) break;                                             \
        if (!testsupport::givenDisplay().empty()) FAIL() << lumo_trouble;            \
        GTEST_SKIP() << "skipped: " << lumo_trouble;                                 \
    } while (false)
