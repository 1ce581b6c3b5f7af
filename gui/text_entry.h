#pragma once
// Single-line text editing state for drawn controls: the owner feeds it keys and mouse presses and
// asks it to draw itself with a bitmap font. Text is UTF-8; caret and anchor are byte positions on
// character boundaries.
#include <cstddef>
#include <string>

#include "gui/draw/bitmapfont.h"
#include "gui/widget.h"

namespace lumo::gui {

class TextEntry {
public:
    // Results of key().
    enum : int { kNotHandled = 0, kHandled = 1, kCommit = 2, kCancel = 3 };

    // Takes the text with everything selected and starts editing.
    void begin(std::string value);
    void eraseSelection();
    int key(const KeyEvent& e);
    // The character boundary nearest a local logical x, as the text was last drawn.
    size_t indexAt(int x) const;
    void press(int x, bool extend, bool selectAll);
    void drag(int x);
    // Pen at device (x, y), y on the baseline; selection and caret span caretTop..+caretHeight.
    void draw(const Paint& paint, const BitmapFont& f, int x, int y, const Color* textColour, Color selectionColour,
              Color caretColour, bool showCaret, int caretTop, int caretHeight);
    // align > 0 right, 0 centred, < 0 left, pad from the aligned edge; y is the device baseline.
    void drawIn(const Paint& paint, const BitmapFont& f, Rect r, int align, int y, const Color* textColour,
                Color selectionColour, Color caretColour, bool showCaret, int pad);

    bool hasSelection() const { return caret != anchor; }
    size_t selectionStart() const { return caret < anchor ? caret : anchor; }
    size_t selectionEnd() const { return caret < anchor ? anchor : caret; }

    std::string text;
    size_t caret = 0;
    size_t anchor = 0;
    bool active = false;
    bool dragging = false;
    int originX = 0;  // device x of the first pen position, relative to the last paint rectangle
    double scale = 1.0;
    const BitmapFont* font = nullptr;  // of the last draw, not owned

private:
    void settle();
    size_t prevBoundary(size_t i) const;
    size_t nextBoundary(size_t i) const;
};

// UTF-8 to the ASCII the bitmap fonts draw: dashes, quotes, the ellipsis and the no-break space
// get their ASCII stand-ins, every other non-ASCII character becomes "?".
std::string plainText(const std::string& s);

}  // namespace lumo::gui
