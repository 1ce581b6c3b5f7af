// Sprite boxes of the skin packs at the current size: spriteRect and faceRect for every sprite of
// the 1x pack at the page size and larger, in both looks, and the scrollbar's travel.
#include <gtest/gtest.h>

#include "tests/manager/view_fixture.h"

using namespace testsupport;
using lumo::gui::Rect;

namespace {

std::string str(const Rect& r) {
    return "(" + std::to_string(r.x) + ", " + std::to_string(r.y) + ", " + std::to_string(r.w) + ", " +
           std::to_string(r.h) + ")";
}

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
        view->setSize(view->pageWidth, view->pageHeight);
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
            for (const auto* axis : {&view->xAxis, &view->yAxis}) {
                const bool x = axis == &view->xAxis;
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
    view->model->rows = rows;
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

}  // namespace
