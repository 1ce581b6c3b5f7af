#include "gui/text_entry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace lumo::gui {

namespace {

bool continuation(unsigned char b) { return b >= 0x80 && b <= 0xBF; }

// The UTF-8 bytes of a typed character; empty when the character may not be typed.
std::string encode(uint32_t c) {
    std::string out;
    if (c < 32 || c == 127 || (c >= 0x80 && c <= 0x9F) || (c >= 0xD800 && c <= 0xDFFF) || c >= 0x110000)
        return out;
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
    return out;
}

int widthOf(const BitmapFont& f, const std::string& text, size_t end) {
    return f.width(text.substr(0, std::min(end, text.size())));
}

}  // namespace

size_t TextEntry::prevBoundary(size_t i) const {
    if (i == 0) return 0;
    --i;
    while (i > 0 && continuation(static_cast<unsigned char>(text[i]))) --i;
    return i;
}

size_t TextEntry::nextBoundary(size_t i) const {
    if (i >= text.size()) return text.size();
    ++i;
    while (i < text.size() && continuation(static_cast<unsigned char>(text[i]))) ++i;
    return i;
}

void TextEntry::begin(std::string value) {
    text = std::move(value);
    anchor = 0;
    caret = text.size();
    active = true;
    dragging = false;
}

// The owner may have replaced the text: positions past its end or inside a character move back.
// Only a position inside a lead byte's own sequence is inside a character; a stray continuation
// byte after it (invalid text) is a character of its own, so typing before one stays put.
void TextEntry::settle() {
    auto fix = [this](size_t& i) {
        i = std::min(i, text.size());
        if (i == text.size() || !continuation(static_cast<unsigned char>(text[i]))) return;
        size_t lead = i;
        while (lead > 0 && i - lead < 3 && continuation(static_cast<unsigned char>(text[lead]))) --lead;
        const unsigned char b = static_cast<unsigned char>(text[lead]);
        const size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        if (lead + length > i) i = lead;
    };
    fix(caret);
    fix(anchor);
}

void TextEntry::eraseSelection() {
    if (!active) return;
    settle();
    if (!hasSelection()) return;
    size_t a = selectionStart(), b = selectionEnd();
    text.erase(a, b - a);
    caret = anchor = a;
    settle();  // bytes either side of what went may now make one character
}

int TextEntry::key(const KeyEvent& e) {
    if (!active) return kNotHandled;
    settle();
    switch (e.key) {
    case Key::Enter:
    case Key::Tab:
        return kCommit;
    case Key::Escape:
        return kCancel;
    case Key::Backspace:
        if (hasSelection()) {
            eraseSelection();
        } else if (caret > 0) {
            size_t p = prevBoundary(caret);
            text.erase(p, caret - p);
            caret = anchor = p;
            settle();
        }
        return kHandled;
    case Key::Delete:
        if (hasSelection()) {
            eraseSelection();
        } else if (caret < text.size()) {
            text.erase(caret, nextBoundary(caret) - caret);
            settle();
        }
        return kHandled;
    case Key::Left:
        if (hasSelection() && !e.shift) {
            caret = anchor = selectionStart();
        } else {
            caret = prevBoundary(caret);
            if (!e.shift) anchor = caret;
        }
        return kHandled;
    case Key::Right:
        if (hasSelection() && !e.shift) {
            caret = anchor = selectionEnd();
        } else {
            caret = nextBoundary(caret);
            if (!e.shift) anchor = caret;
        }
        return kHandled;
    case Key::Home:
        caret = 0;
        if (!e.shift) anchor = 0;
        return kHandled;
    case Key::End:
        caret = text.size();
        if (!e.shift) anchor = caret;
        return kHandled;
    case Key::Up:
    case Key::Down:
        return kHandled;
    default:
        break;
    }
    if (e.command) {
        if (e.character == 1 || e.character == 'A' || e.character == 'a') {
            anchor = 0;
            caret = text.size();
            return kHandled;
        }
        return kNotHandled;
    }
    std::string bytes = encode(e.character);
    if (bytes.empty()) return kNotHandled;
    eraseSelection();
    text.insert(caret, bytes);
    caret += bytes.size();
    anchor = caret;
    return kHandled;
}

size_t TextEntry::indexAt(int x) const {
    if (!font) return text.size();
    const long p = std::lround(x * scale);
    size_t best = 0;
    long bestD = 1L << 30;
    long w = 0;
    for (size_t i = 0; i <= text.size();) {
        long d = std::labs(originX + w - p);
        if (d < bestD) {
            bestD = d;
            best = i;
        }
        if (i == text.size()) break;
        w += font->advanceAt(text, i);  // one whole character
    }
    return best;
}

void TextEntry::press(int x, bool extend, bool selectAll) {
    if (!active) return;
    if (selectAll) {
        anchor = 0;
        caret = text.size();
        dragging = false;
        return;
    }
    caret = indexAt(x);
    if (!extend) anchor = caret;
    dragging = true;
}

void TextEntry::drag(int x) {
    if (!active || !dragging) return;
    caret = indexAt(x);
}

void TextEntry::draw(const Paint& paint, const BitmapFont& f, int x, int y, const Color* textColour,
                     Color selectionColour, Color caretColour, bool showCaret, int caretTop, int caretHeight) {
    originX = x - paint.rect.x;
    scale = paint.scale;
    font = &f;
    if (hasSelection()) {
        int w1 = widthOf(f, text, selectionStart());
        int w2 = widthOf(f, text, selectionEnd());
        paint.canvas.fillRect(Rect{x + w1, caretTop, std::max(w2 - w1, 1), caretHeight}, selectionColour);
    }
    f.draw(paint.canvas, x, y, text, textColour);
    if (showCaret && !hasSelection()) {
        int w = widthOf(f, text, caret);
        int c = int(std::lround(scale));
        if (c < 2) c = 1;
        paint.canvas.fillRect(Rect{x + w, caretTop, c, caretHeight}, caretColour);
    }
}

void TextEntry::drawIn(const Paint& paint, const BitmapFont& f, Rect r, int align, int y, const Color* textColour,
                       Color selectionColour, Color caretColour, bool showCaret, int pad) {
    const int t = f.width(text);
    int x;
    if (align > 0)
        x = r.x + r.w - (pad + t);
    else if (align == 0)
        x = r.x + (r.w - t) / 2;
    else
        x = r.x + pad;
    const double s = paint.scale;
    int h = f.cap_height;
    if (h < 1) h = f.ascent;
    if (h < 1) h = int(std::lround(s * 7));
    const int s1 = int(std::lround(s));
    const int top = y - (s1 + h);
    const int height = int(std::lround(2 * s)) + std::max(f.descent, s1) + h;
    draw(paint, f, x, y, textColour, selectionColour, caretColour, showCaret, top, height);
}

std::string plainText(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            out += char(b);
            ++i;
            continue;
        }
        uint32_t cp = 0;
        size_t len = 1;
        if (b >= 0xC0) {
            len = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
            cp = b & (len == 2 ? 0x1Fu : len == 3 ? 0x0Fu : 0x07u);
            for (size_t k = 1; k < len && i + k < s.size(); ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
        }
        i = std::min(s.size(), i + len);
        switch (cp) {
        case 0x2013:
        case 0x2014:
        case 0x2212:
            out += '-';
            break;
        case 0x2018:
        case 0x2019:
        case 0x2032:
            out += '\'';
            break;
        case 0x201C:
        case 0x201D:
        case 0x2033:
            out += '"';
            break;
        case 0x2026:
            out += "...";
            break;
        case 0x00A0:
            out += ' ';
            break;
        default:
            out += '?';
        }
    }
    return out;
}

}  // namespace lumo::gui
