#pragma once
// The manager skin's artwork: every sprite with its place on the 426 x 344 design page and the
// drawing that fills it at any scale.
#include <functional>
#include <string>
#include <vector>

#include "tools/skinpack_paint.h"

namespace skinart {

struct Art {
    enum Kind {
        Picture,  // one image
        Glass,    // an overlay written twice, over black ("_b") and over white ("_w")
        HitOnly,  // a place without an image (a hit box)
    };
    std::string name;
    Box place;  // design units
    Kind kind = Picture;
    std::function<void(Layer&)> draw;
};

// Every sprite of the skin, the page first.
std::vector<Art> skinArt();

// Pieces shared by the page and the controls (skinpack_art.cpp).
enum class State { Normal, Hover, Pressed };
void lightPill(Layer& L, const Box& b, State st, bool accent);
void darkButton(Layer& L, const Box& b, double radius, State st);
Fill glyphInk(State st);
void lamp(Layer& L, double cx, double cy, bool on);
void recess(Layer& L, const Box& b, double radius, uint32_t fill);

// The page: window body, panels, wells and the fixed boxes (skinpack_page.cpp).
void drawPage(Layer& L);

}  // namespace skinart
