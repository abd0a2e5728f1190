#include "flat/palette.h"

#include <sstream>
#include <vector>

#include "flat/imageio.h"
#include "look/look.h"
#include "base/die.h"
#include "base/opts.h"
#include "base/pending.h"

std::optional<Color> readColour(const std::string& text, double alpha) {
    std::string hex = !text.empty() && text[0] == '#' ? text.substr(1) : text;
    bool ok = hex.size() == 6;
    unsigned v = 0;
    for (char c : hex) {
        int d = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (d < 0) ok = false;
        v = v * 16 + unsigned(d < 0 ? 0 : d);
    }
    if (!ok) return std::nullopt;
    return Color{((v >> 16) & 255) / 255.0, ((v >> 8) & 255) / 255.0, (v & 255) / 255.0, alpha};
}

Color cgColor(const std::string& text, double alpha) {
    const std::optional<Color> c = readColour(text, alpha);
    if (!c) die("bad colour: " + text + "  (want #RRGGBB)");
    return *c;
}

Palette themePalette(bool dark) {
    const std::string word = dark ? "dark" : "light";
    const std::string key = "theme_" + word;
    const std::string& raw = look().str(key);
    std::vector<std::string> items;
    std::stringstream in(raw);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty()) items.push_back(item);
    double glowOp = 0, shadowOp = 0;
    if (items.size() != 5 || !readNumber(items[3], glowOp) || !readNumber(items[4], shadowOp))
        die("look.conf: " + key + " wants base,bodyTop,bodyBot,glowOp,shadowOp");
    std::vector<double> edge = look().nums("bezel_edge_" + word, 2);
    std::vector<double> glass = look().nums("screen_glass_" + word, 2);
    Palette p;
    p.base = items[0];
    p.bodyTop = items[1];
    p.bodyBot = items[2];
    p.glowOp = glowOp;
    p.shadowOp = shadowOp;
    p.edge = edge[0];
    p.edgeBlur = edge[1];
    p.glass = glass[0];
    p.glassBlur = glass[1];
    p.edgeLit = dark;
    return p;
}

std::optional<Backdrop> readBackdropColours(const std::string& text) {
    const size_t comma = text.find(',');
    const auto top = readColour(text.substr(0, comma));
    if (!top || text[0] != '#') return std::nullopt;
    Backdrop b;
    b.top = b.bottom = *top;
    b.kind = Backdrop::Kind::solid;
    if (comma == std::string::npos) return b;
    const std::string second = text.substr(comma + 1);
    const auto bottom = readColour(second);
    if (!bottom || second.empty() || second[0] != '#') return std::nullopt;
    b.bottom = *bottom;
    b.kind = Backdrop::Kind::gradient;
    return b;
}

namespace {

// Text of spaces, tabs and line ends only sets no ink: it is no text, as an empty one is,
// rather than a caption that cannot be set (a title field left with a space in it).
std::string unlessBlank(const std::string& text) {
    std::string s = text;
    std::erase_if(s, [](char c) { return c == '\n' || c == '\r'; });
    return trimSpaces(s).empty() ? std::string() : text;
}

}  // namespace

Style::Style(const Opts& opts) {
    if (opts.theme != "dark" && opts.theme != "light") die("unknown theme: " + opts.theme + "  (want dark·light)");
    dark = opts.theme == "dark";
    pal = themePalette(dark);
    caption = {unlessBlank(opts.title), unlessBlank(opts.subtitle), opts.captionBottom};
    const std::string& b = opts.backdrop;
    if (b.empty()) return;
    if (auto colours = readBackdropColours(b)) {
        backdrop = *colours;
    } else if (b[0] == '#') {
        die("bad --backdrop: " + b + "  (want #RRGGBB, #RRGGBB,#RRGGBB or a picture)");
    } else {
        // A picture goes through every check an input does.
        backdrop.kind = Backdrop::Kind::picture;
        backdrop.picture = std::make_shared<const Image8>(loadCG(b));
        backdrop.path = b;
    }
}

void refuseOverwriteBackdrop(const std::string& out, const Style& style) {
    if (style.backdrop.kind == Backdrop::Kind::picture) refuseOverwrite(out, style.backdrop.path, "backdrop");
}
