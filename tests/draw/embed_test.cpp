#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "embedded/drawTestTable.h"
#include "tests/support/temp_home.h"

// The build's embedding step: rows named by file, in the order given, with the bytes of each file.
TEST(Embedded, TableHoldsTheFiles) {
    using lumo::embedded::drawTestTable;
    ASSERT_EQ(lumo::embedded::drawTestTableCount, 3u);
    const char* names[] = {"note.txt", "bytes.bin", "empty.txt"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_STREQ(drawTestTable[i].name, names[i]);
        const std::string want = testsupport::readFile(std::string(LUMO_DRAW_FIXTURES) + "/embed/" + names[i]);
        ASSERT_EQ(drawTestTable[i].size, want.size()) << names[i];
        EXPECT_EQ(std::memcmp(drawTestTable[i].data, want.data(), want.size()), 0) << names[i];
        EXPECT_EQ(drawTestTable[i].data[drawTestTable[i].size], 0) << "text rows end in a NUL";
    }
    EXPECT_EQ(drawTestTable[1].size, 256u);
}
