// Sprite boxes of the skin packs at the current size: spriteRect and faceRect for every sprite of
// the 1x pack at the page size and larger, in both looks, and the scrollbar's travel.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/manager/pixel_support.h"
#include "tests/manager/view_fixture.h"
#include "tests/support/png.h"

using namespace testsupport;
using lumo::gui::Rect;

namespace {

bool inside(const Rect& in, const Rect& out) {
    return in.x >= out.x && in.y >= out.y && in.x + in.w <= out.x + out.w && in.y + in.h <= out.y + out.h;
}

class ViewSprites : public ViewTest {
protected:
    const lumo::gui::AssetPack& one() const { return tqapp::managerSkin().pack(1.0); }
};

TEST_F(ViewSprites, EverySpriteAtThePageSizeAndLarger) {
    ASSERT_FALSE(one().sprites.empty()) << "the skin's 1x pack has no sprites";
    for (const char* lookWord : {"pixel", "tq"}) {
        open({"--steps", "--look", lookWord});
        view->setSize(view->pageWidth(), view->pageHeight());
        for (const auto& [name, s] : one().sprites)
            EXPECT_EQ(str(view->spriteRect(name)), str(Rect{s.x, s.y, s.w, s.h})) << name;

        for (const auto& [w, h] : std::vector<std::pair<int, int>>{{496, 344}, {700, 500}, {1600, 1200}}) {
            view->setSize(w, h);
            const Rect window{0, 0, w, h};
            for (const auto& [name, s] : one().sprites) {
                const Rect r = view->spriteRect(name);
                EXPECT_TRUE(inside(r, window)) << name << " " << str(r) << " at " << w;
                if (!tqapp::sliceable(name)) {
                    EXPECT_EQ(r.w, s.w) << name;  // only moved, never stretched
                    EXPECT_EQ(r.h, s.h) << name;
                } else {
                    EXPECT_GE(r.w, s.w) << name;
                    EXPECT_GE(r.h, s.h) << name;
                }
                const Rect f = view->faceRect(name);
                EXPECT_TRUE(inside(f, r)) << name << " " << str(f) << " in " << str(r);
                EXPECT_GE(f.w, 1);
                EXPECT_GE(f.h, 1);
            }
        }
    }
}

TEST_F(ViewSprites, SegmentsOfEverySpriteAtEveryPackScale) {
    ASSERT_FALSE(one().sprites.empty());
    open({"--steps", "--look", "tq"});
    view->setSize(900, 600);
    for (double scale : tqapp::managerSkin().scales()) {
        const lumo::gui::AssetPack& pack = tqapp::managerSkin().pack(scale);
        for (const auto& [name, s] : pack.sprites) {
            for (const auto* axis : {&view->xAxis(), &view->yAxis()}) {
                const bool x = axis == &view->xAxis();
                const std::vector<tqapp::Axis::Seg> segs =
                    axis->segments(x ? s.x : s.y, x ? s.w : s.h, pack.scale, tqapp::sliceable(name));
                int32_t src = 0;
                for (const tqapp::Axis::Seg& g : segs) {
                    EXPECT_EQ(g.src, src) << name << " at " << scale;
                    src += g.len;
                    EXPECT_GE(g.dstLen, g.len) << name;
                }
                EXPECT_EQ(src, x ? s.w : s.h) << name << " at " << scale;
            }
        }
    }
}

TEST_F(ViewSprites, TickBoxesHaveAFaceInsideTheirMargins) {
    ASSERT_NE(one().sprite("check_vst3_off"), nullptr);
    open({"--steps"});
    for (const char* f : {"vst3", "clap", "au"}) {
        const std::string name = std::string("check_") + f + "_off";
        const Rect r = view->spriteRect(name), face = view->faceRect(name);
        EXPECT_TRUE(inside(face, r)) << name;
        EXPECT_LT(face.w * face.h, r.w * r.h) << name << ": the face should leave a transparent margin";
    }
    EXPECT_EQ(str(view->faceRect("no such sprite")), str(Rect{0, 0, 1, 1}));
    EXPECT_EQ(str(view->spriteRect("no such sprite")), str(Rect{}));
}

TEST_F(ViewSprites, ScrollbarCapTravelsFromTopToBottom) {
    ASSERT_NE(one().sprite("cap_sb"), nullptr);
    open({"--steps", "--look", "tq"});
    std::vector<tqm::Row> rows;
    for (int i = 0; i < 40; ++i) rows.push_back(row("p" + std::to_string(i), "Plug " + std::to_string(i)));
    view->model()->rows = rows;
    view->changed();
    const Rect up = view->spriteRect("sb_up_normal"), cap = view->spriteRect("cap_sb");
    const int travel = view->trackTravel();
    EXPECT_GT(travel, 0);
    view->setScroll(0);
    EXPECT_EQ(cap.y + view->capOffset(), up.y + up.h + 2);
    view->setScroll(view->maxScroll());
    EXPECT_EQ(cap.y + view->capOffset(), up.y + up.h + 2 + travel);
    // A taller window gives the cap a longer track.
    view->setSize(view->bounds.w, view->bounds.h + 100);
    EXPECT_EQ(view->trackTravel(), travel + 100);
}

// Draws a sprite of a pack through the view's segments: pieces copied, stretched ones resampled
// by nearest pixel, alpha blended over the canvas.
void drawThroughSegments(lumo::gui::Canvas& c, const lumo::gui::AssetPack& pack, const std::string& name,
                         const tqapp::ManagerView& v) {
    const lumo::gui::Sprite* s = pack.sprite(name);
    if (!s || !s->image) return;
    const bool cut = tqapp::sliceable(name);
    const auto xs = v.xAxis().segments(s->x, s->w, pack.scale, cut);
    const auto ys = v.yAxis().segments(s->y, s->h, pack.scale, cut);
    for (const auto& gy : ys)
        for (int dy = 0; dy < gy.dstLen; ++dy)
            for (const auto& gx : xs)
                for (int dx = 0; dx < gx.dstLen; ++dx) {
                    const int sx = gx.src + (gx.stretched ? dx * gx.len / std::max(1, gx.dstLen) : dx);
                    const int sy = gy.src + (gy.stretched ? dy * gy.len / std::max(1, gy.dstLen) : dy);
                    const int x = gx.dst + dx, y = gy.dst + dy;
                    if (sx >= s->image->w || sy >= s->image->h || x < 0 || y < 0 || x >= c.width || y >= c.height)
                        continue;
                    const uint32_t src = s->image->pixels[size_t(sy) * size_t(s->image->w) + size_t(sx)];
                    uint32_t& dst = c.pixels[size_t(y) * size_t(c.width) + size_t(x)];
                    const uint32_t a = src >> 24;
                    uint32_t out = 0xFF000000u;
                    for (int k = 0; k < 24; k += 8) {
                        const uint32_t cs = src >> k & 0xFF, cd = dst >> k & 0xFF;
                        out |= ((cd * (255 - a) + cs * a + 127) / 255) << k;
                    }
                    dst = out;
                }
}

// A picture of the window's geometry at a stretched size: the page and every sprite placed through
// the segments, the list viewport and the window-button slots outlined. For a person to look at.
TEST_F(ViewSprites, GeometrySheet) {
    open({"--steps", "--look", "tq"});
    const int w = 700, h = 460;
    view->setSize(w, h);
    for (double scale : {1.0, 2.0}) {
        const lumo::gui::AssetPack& pack = tqapp::managerSkin().pack(scale);
        lumo::gui::Canvas c;
        c.resize(tqapp::scaled(w, pack.scale), tqapp::scaled(h, pack.scale));
        c.clear(0xFF0B0B0Bu);
        drawThroughSegments(c, pack, "page", *view);
        for (const auto& [name, sprite] : pack.sprites) {
            const bool state = name.find("_hover") != std::string::npos || name.find("_pressed") != std::string::npos ||
                               name.find("_grabbed") != std::string::npos || name.find("_press_") != std::string::npos ||
                               name.find("_on") + 3 == name.size() || name.rfind("over_4_w", 0) == 0;
            if (name != "page" && !state && name.rfind("row_", 0) != 0) drawThroughSegments(c, pack, name, *view);
        }
        auto outline = [&](const Rect& r, uint32_t colour) {
            const Rect d{tqapp::scaled(r.x, pack.scale), tqapp::scaled(r.y, pack.scale),
                         tqapp::scaled(r.x + r.w, pack.scale) - tqapp::scaled(r.x, pack.scale),
                         tqapp::scaled(r.y + r.h, pack.scale) - tqapp::scaled(r.y, pack.scale)};
            c.strokeRect(d, colour, 1);
        };
        outline(view->listRect(), 0xFF0000FFu);
        outline(view->windowSlot(true), 0xFF00FF00u);
        outline(view->windowSlot(false), 0xFF00FF00u);
        const std::string file = (pixeltest::pictureDir() / ("view-geometry-" + std::to_string(int(scale)) + "x.png")).string();
        const std::string png = encodePng(c.width, c.height, c.pixels);
        ASSERT_FALSE(png.empty());
        std::ofstream(file, std::ios::binary).write(png.data(), std::streamsize(png.size()));
        // The stretched page leaves no unpainted column or row inside the window.
        int bare = 0;
        for (uint32_t px : c.pixels) bare += px == 0xFF0B0B0Bu;
        EXPECT_LT(bare, int(c.pixels.size()) / 2) << file;
    }
}

}  // namespace
