// The swirl: its tables, noise, glyph choice and painting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "manager/pixel_look/primitives.h"
#include "manager/windows/swirl.h"
#include "tests/manager/pixel_support.h"

using namespace pixeltest;
using lumo::gui::pixelOf;
using tqapp::Swirl;

TEST(Swirl, TablesComeFromTheSeedAlone) {
    const Swirl a, b;
    EXPECT_TRUE(std::equal(a.permutation, a.permutation + 512, b.permutation));
    EXPECT_TRUE(std::equal(a.values, a.values + 256, b.values));
    std::set<int> seen(a.permutation, a.permutation + 256);
    EXPECT_EQ(seen.size(), 256u);
    EXPECT_TRUE(std::equal(a.permutation, a.permutation + 256, a.permutation + 256));
    for (float v : a.values) {
        EXPECT_GE(v, 0.0f);
        EXPECT_LE(v, 1.0f);
    }
    EXPECT_TRUE(a.cellPhases.empty());
    EXPECT_EQ(a.gridColumns, 0);
    // The first value is the first draw of seed 7: s = 7 * 1664525 + 1013904223, bits 8..23.
    const uint32_t s = 7u * 1664525u + 1013904223u;
    EXPECT_EQ(a.values[0], float((s >> 8) & 0xFFFF) / 65535.0f);
}

TEST(Swirl, NoiseHitsCornerValuesOnTheLatticeAndStaysInRange) {
    const Swirl w;
    const uint8_t* P = w.permutation;
    const int points[][3] = {{0, 0, 0}, {3, 7, 1}, {255, 255, 255}, {-1, -2, -3}, {256, 1, 2}};
    for (const auto& p : points) {
        const int X = p[0] & 255, Y = p[1] & 255, Z = p[2] & 255;
        const float corner = w.values[P[P[P[X] + Y] + Z]];
        EXPECT_EQ(w.noise(float(p[0]), float(p[1]), float(p[2])), corner) << p[0] << "," << p[1] << "," << p[2];
    }
    for (int i = 0; i < 2000; ++i) {
        const float x = (i * 37 % 1000) / 13.7f - 30, y = (i * 91 % 1000) / 7.3f - 60, z = i / 97.0f - 5;
        const float n = w.noise(x, y, z);
        ASSERT_GE(n, 0.0f);
        ASSERT_LE(n, 1.0f);
        EXPECT_EQ(w.fbm(x, y, z, 1), n);
        const float two = w.fbm(x, y, z, 2);
        EXPECT_NEAR(two, (0.5f * n + 0.25f * w.noise(x * 2.03f, y * 2.03f, z * 2.03f)) / 0.75f, 1e-6);
        const float f = w.field(x * 40, y * 40, z * 30);
        ASSERT_GE(f, 0.0f);
        ASSERT_LE(f, 1.0f);
    }
    EXPECT_EQ(w.noise(NAN, 0, 0), 0.0f);
    EXPECT_EQ(w.noise(0, INFINITY, 0), 0.0f);
}

TEST(Swirl, GlyphLevelsByEnergyAndFailure) {
    // Full energy lifts every cell to glyph 3 or more, whatever the field and the sparkle.
    for (float f = 0; f <= 1.0f; f += 0.05f)
        for (float ph = 0; ph < 6.3f; ph += 0.7f) EXPECT_GE(Swirl::glyphFor(f, 1.0, ph, 0.4, false, 3, 5), 3) << f;
    // A full cell shows glyph 9, or glyph 7 when failed.
    EXPECT_EQ(Swirl::glyphFor(1.0f, 0.0, 0.0f, 0.0, false, 0, 0), 9);
    EXPECT_EQ(Swirl::glyphFor(1.0f, 0.0, 0.0f, 0.0, true, 0, 0), 7);
    // Empty cells: the dot grid on odd rows, where (c + (r & 2)) mod 4 is 1; nothing elsewhere.
    struct Cell {
        int c, r, glyph;
    };
    const Cell cells[] = {{1, 1, 1}, {0, 1, -1}, {5, 1, 1}, {3, 3, 1}, {1, 3, -1}, {1, 0, -1}, {1, 2, -1}};
    for (const Cell& k : cells) {
        EXPECT_EQ(Swirl::glyphFor(0.0f, 0.0, 0.0f, 0.0, false, k.c, k.r), k.glyph) << k.c << "," << k.r;
        // Failed, a level of 2 (f = 0.2) still falls to the dot grid.
        EXPECT_EQ(Swirl::glyphFor(0.2f, 0.0, 0.0f, 0.0, true, k.c, k.r), k.glyph) << k.c << "," << k.r;
    }
}

TEST(Swirl, PaintsOnlyBgIntoAreasWithoutAWholeCell) {
    for (int u : {1, 2, 3}) {
        Swirl w;
        for (Rect area : {Rect{5, 5, 3 * u, 40 * u}, Rect{5, 5, 40 * u, 5 * u}}) {
            Canvas c = paper(60 * u, 60 * u);
            w.draw(c, area, u, u, 1.0, 1.0, false);
            EXPECT_EQ(count(c, pixelOf(tqapp::dev::bg)), area.w * area.h);
            EXPECT_EQ(count(c, kPaper), c.width * c.height - area.w * area.h);
        }
    }
}

TEST(Swirl, GridIsCentredAndGlyphsKeepTheirGaps) {
    // At unit 2 a 218-pixel area has 27 columns and a 1-pixel left margin.
    for (double s : kScales) {
        SCOPED_TRACE(s);
        const int u = tqapp::dev::one(s);
        Swirl w;
        const Rect area{9, 11, int(std::lround(218 * s)), int(std::lround(96 * s))};
        Canvas c = paper(area.x + area.w + 9, area.y + area.h + 9);
        c.clip = Rect{2, 2, c.width - 4, c.height - 4};
        w.draw(c, area, u, s, 3.0, 0.8, false);
        EXPECT_EQ(c.clip.x, 2);
        EXPECT_EQ(c.clip.w, c.width - 4);
        EXPECT_TRUE(inside(inkBox(c), area));
        EXPECT_EQ(w.gridColumns, area.w / (4 * u));
        EXPECT_EQ(w.gridRows, area.h / (6 * u));
        const int left = area.x + (area.w % (4 * u)) / 2, top = area.y + (area.h % (6 * u)) / 2;
        int lit = 0;
        for (int y = area.y; y < area.y + area.h; ++y)
            for (int x = area.x; x < area.x + area.w; ++x) {
                if (at(c, x, y) != pixelOf(tqapp::dev::cream)) continue;
                ++lit;
                ASSERT_GE(x, left);
                ASSERT_GE(y, top);
                ASSERT_LT((x - left) % (4 * u), 3 * u) << x;  // the fourth column stays a gap
                ASSERT_LT((y - top) % (6 * u), 5 * u) << y;   // and the sixth row
            }
        EXPECT_GT(lit, 0);
    }
    Swirl w;
    Canvas c = paper(230, 60);
    w.draw(c, Rect{0, 0, 218, 48}, 2, 2.0, 0.0, 0.0, false);
    EXPECT_EQ(w.gridColumns, 27);
    for (int y = 0; y < 48; ++y) EXPECT_EQ(at(c, 0, y), pixelOf(tqapp::dev::bg));  // the 1-pixel margin
}

TEST(Swirl, PhaseMovesThePictureButKeepsTheCellTableUntilTheGridChanges) {
    Swirl w;
    const Rect area{0, 0, 218, 120};
    Canvas a = paper(218, 120), b = paper(218, 120), again = paper(218, 120);
    w.draw(a, area, 1, 1.0, 0.0, 0.3, false);
    const std::vector<float> table = w.cellPhases;
    w.cellPhases[0] = -1.0f;  // a mark: a remade table would lose it
    w.draw(b, area, 1, 1.0, 40.0, 0.3, false);
    EXPECT_EQ(w.cellPhases[0], -1.0f);
    EXPECT_NE(hashOf(a), hashOf(b));
    w.draw(again, Rect{0, 0, 218, 126}, 1, 1.0, 0.0, 0.3, false);  // one more row: remade
    EXPECT_EQ(w.gridRows, 21);
    EXPECT_EQ(w.cellPhases[0], table[0]);
    // Back on the first grid the table is the same again, and so is the picture.
    w.draw(again, area, 1, 1.0, 0.0, 0.3, false);
    EXPECT_EQ(w.cellPhases, table);
    Canvas same = paper(218, 120);
    Swirl().draw(same, area, 1, 1.0, 0.0, 0.3, false);
    EXPECT_EQ(hashOf(same), hashOf(a));
}

TEST(Swirl, EnergyBrightensAndFailureThins) {
    const Rect area{0, 0, 218, 120};
    auto lit = [&](double energy, bool failed) {
        Swirl w;
        Canvas c = paper(218, 120);
        w.draw(c, area, 1, 1.0, 12.0, energy, failed);
        return count(c, pixelOf(tqapp::dev::cream));
    };
    const int calm = lit(0.0, false), bright = lit(1.0, false), failed = lit(0.0, true);
    EXPECT_GT(bright, calm);
    EXPECT_LT(failed, calm);
    EXPECT_GT(failed, 0);  // the dot grid stays
}
