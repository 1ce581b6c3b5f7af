// The notices text: an opening, then per library a title framed by lines of 78 "=" and the
// licence file of that library as it is distributed (checked in under resources/notices/ and
// embedded in the program).
#include "manager/model/notices.h"

#include <cstring>

#include "embedded/noticesTable.h"

namespace tqapp {

namespace {

struct Section {
    const char* title;
    const char* file;  // row name in the embedded table
};

// In the order of the layers: the engine's libraries, the drawing, the window, the fonts.
constexpr Section kSections[] = {
    {"libsodium (ed25519 signatures)", "libsodium.copyright"},
    {"libzip (zip archives)", "libzip.copyright"},
    {"libcurl (downloads)", "libcurl.copyright"},
    {"OpenSSL (TLS for libcurl)", "openssl.copyright"},
    {"zlib (compression for libzip and libcurl)", "zlib.copyright"},
    {"libplist (application bundle versions)", "libplist.copyright"},
    {"stb (PNG pictures)", "stb.copyright"},
    {"SDL2 (window, input and display)", "sdl2.copyright"},
    {"DejaVu fonts (the text fonts of the font packs are drawn from them)", "dejavu.copyright"},
};

std::string embedded(const char* name) {
    for (size_t i = 0; i < lumo::embedded::noticesTableCount; ++i) {
        const lumo::EmbeddedFile& f = lumo::embedded::noticesTable[i];
        if (std::strcmp(f.name, name) == 0) return std::string(reinterpret_cast<const char*>(f.data), f.size);
    }
    return {};
}

std::string build() {
    const std::string rule(78, '=');
    std::string text =
        "Ardune Systems Manager includes the following software under the licences below.\n"
        "\n"
        "The pixel font and the Ardune Systems marks are Ardune Systems' own.\n";
    for (const Section& s : kSections) {
        std::string licence = embedded(s.file);
        if (!licence.empty() && licence.back() != '\n') licence += '\n';
        text += "\n" + rule + "\n" + s.title + "\n" + rule + "\n\n" + licence;
    }
    return text;
}

}  // namespace

const std::string& thirdPartyNotices() {
    static const std::string text = build();
    return text;
}

}  // namespace tqapp
