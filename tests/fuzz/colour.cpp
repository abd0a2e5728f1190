// Colour texts and theme entries. The first line goes to cgColor; the rest is appended
// to the shipped look (later lines win), from which both themes' palettes are made and
// their colours read as drawing reads them.
#include <cctype>

#include "base/opts.h"
#include "flat/palette.h"
#include "fuzz.h"
#include "look/look.h"

namespace {

// The accepted form, written out independently: six hex digits after an optional "#".
bool wellFormed(const std::string& text) {
    const std::string hex = !text.empty() && text[0] == '#' ? text.substr(1) : text;
    if (hex.size() != 6) return false;
    for (char c : hex)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

bool unit(double v) { return v >= 0 && v <= 1; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string shipped = readText(TREVALO_SOURCE_DIR "/resources/look.conf");
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t nl = input.find('\n');
    const std::string colour = input.substr(0, nl);

    Color c;
    const bool ok = accepted([&] { c = cgColor(colour, 0.5); });
    FUZZ_CHECK(ok == wellFormed(colour));
    if (ok) FUZZ_CHECK(unit(c.r) && unit(c.g) && unit(c.b) && c.a == 0.5);

    if (nl == std::string::npos) return 0;
    if (!accepted([&] { installLook(Look::parse(shipped + "\n" + input.substr(nl + 1))); })) return 0;
    for (const char* theme : {"dark", "light"}) {
        accepted([&] {
            const Style style(Opts({"--theme", theme}));
            FUZZ_CHECK(style.dark == (theme[0] == 'd') && style.pal.edgeLit == style.dark);
            for (const std::string* text : {&style.pal.base, &style.pal.bodyTop, &style.pal.bodyBot})
                accepted([&] { cgColor(*text); });
        });
    }
    return 0;
}
