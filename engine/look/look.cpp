#include "look/look.h"

#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>

#include "base/die.h"
#include "base/inputfile.h"
#include "base/opts.h"

namespace {

Look g_look;
LookValues g_values;

// Length of the space separator or tab starting at s[i] (0 when there is none).
size_t spaceAt(const std::string& s, size_t i) {
    unsigned char c = s[i];
    if (c == ' ' || c == '\t') return 1;
    auto is = [&](const char* seq, size_t len) { return s.compare(i, len, seq) == 0; };
    if (is("\xc2\xa0", 2)) return 2;      // no-break space
    if (is("\xe1\x9a\x80", 3)) return 3;  // ogham space mark
    if (c == 0xe2 && i + 2 < s.size() && (unsigned char)s[i + 1] == 0x80) {
        unsigned char d = s[i + 2];
        if ((d >= 0x80 && d <= 0x8a) || d == 0xaf) return 3;  // en quad .. hair space, narrow nbsp
    }
    if (is("\xe2\x81\x9f", 3)) return 3;  // medium mathematical space
    if (is("\xe3\x80\x80", 3)) return 3;  // ideographic space
    return 0;
}

// Length of the space separator or tab ending just before s[end].
size_t spaceBefore(const std::string& s, size_t end) {
    for (size_t len = 1; len <= 3 && len <= end; ++len)
        if (spaceAt(s, end - len) == len) return len;
    return 0;
}

}  // namespace

std::string trimSpaces(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e) {
        size_t n = spaceAt(s, b);
        if (!n) break;
        b += n;
    }
    while (e > b) {
        size_t n = spaceBefore(s, e);
        if (!n) break;
        e -= n;
    }
    return s.substr(b, e - b);
}

std::vector<std::string> lookLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') continue;
        if (i > 0 && text[i - 1] == '\r') continue;  // CR LF is one character, not a line end
        lines.push_back(text.substr(start, i - start));
        start = i + 1;
    }
    lines.push_back(text.substr(start));
    return lines;
}

Look Look::parse(const std::string& text) {
    Look look;
    for (const std::string& raw : lookLines(text)) {
        std::string line = trimSpaces(raw);
        if (line.empty() || line[0] == '#') continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = trimSpaces(line.substr(0, eq));
        std::string val = trimSpaces(line.substr(eq + 1));
        if (val.size() >= 2 && val.front() == '"' && val.back() == '"') val = val.substr(1, val.size() - 2);
        look.m_kv[key] = val;
    }
    return look;
}

std::string Look::pathFor(const char* argv0) {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return pathFor(argv0, ec ? std::string() : self.string());
}

std::string Look::pathFor(const char* argv0, const std::string& realProgram) {
    if (const char* env = std::getenv("TREVALO_LOOK")) return env;
    std::string prog = argv0 ? argv0 : "";
    size_t slash = prog.rfind('/');
    const std::string beside = slash == std::string::npos ? "look.conf" : prog.substr(0, slash + 1) + "look.conf";
    // Started through a link or from the PATH, the program's own folder is where it really
    // lies: a build tree keeps the file beside it, an install in share/ beside bin/. Only a
    // file that is not there at all falls through: a broken one is reported as such.
    std::error_code ec;
    if (realProgram.empty() || std::filesystem::exists(beside, ec)) return beside;
    const std::filesystem::path dir = std::filesystem::path(realProgram).parent_path();
    for (const auto& candidate : {dir / "look.conf", dir / "../share/trevalo/look.conf"})
        if (std::filesystem::exists(candidate, ec)) return candidate.lexically_normal().string();
    return beside;
}

Look Look::locate(const char* argv0) {
    const std::string path = pathFor(argv0);
    const WholeFile file = readWholeFile(path, maxLookBytes);
    if (!file.text && !file.fault.empty()) die("look.conf " + file.fault + ": " + path);
    if (!file.text || !validUtf8(*file.text)) die("look.conf not found at " + path);
    return parse(*file.text);
}

const std::string& Look::str(const std::string& key) const {
    auto it = m_kv.find(key);
    if (it == m_kv.end()) die("look.conf: missing " + key);
    return it->second;
}

double Look::num(const std::string& key) const {
    const std::string& v = str(key);
    double d = 0;
    if (!readNumber(v, d)) die("look.conf: " + key + " wants a number, got " + v);
    return d;
}

std::vector<double> Look::nums(const std::string& key, int n) const {
    const std::string& v = str(key);
    std::vector<double> out;
    std::stringstream items(v);
    std::string item;
    while (std::getline(items, item, ',')) {
        if (item.empty()) continue;
        double d = 0;
        if (readNumber(trimSpaces(item), d)) out.push_back(d);
    }
    if (int(out.size()) != n)
        die("look.conf: " + key + " wants " + std::to_string(n) + " comma-separated numbers, got " + v);
    return out;
}

LookValues LookValues::read(const Look& l) {
    LookValues v;
    v.screenRadiusFrac = l.num("bezel_screen_radius");
    v.bezelFrac = l.num("bezel_thickness");
    v.frameReference = l.num("frame_reference");
    v.fillVertical = l.num("frame_fill_vertical");
    v.fillHorizontal = l.num("frame_fill_horizontal");
    v.maxWidthFrac = l.num("frame_max_width");
    v.glowCenterY = l.num("glow_center_y");
    v.glowRadius = l.num("glow_radius");
    v.shadowAmbient = l.nums("grounding_ambient", 4);
    v.shadowContact = l.nums("grounding_contact", 4);
    v.spinTiming = l.nums("spin_timing", 3);
    v.spinEase = l.nums("spin_ease", 2);
    v.spinHandoff = l.num("spin_handoff");
    v.spinThick = l.num("spin_thickness");
    v.spinEdge = l.num("spin_edge_round");
    v.spinCamera = l.num("spin_camera");
    v.spinLight = l.nums("spin_light", 4);
    v.spinLensTint = l.num("spin_lens_tint");
    v.spinAO = l.nums("spin_ao", 2);
    return v;
}

const Look& look() { return g_look; }
const LookValues& lv() { return g_values; }

void installLook(Look l) {
    g_look = std::move(l);
    g_values = LookValues::read(g_look);
}

bool validUtf8(const std::string& s) {
    size_t i = 0, n = s.size();
    while (i < n) {
        unsigned char c = s[i];
        int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > n) return false;
        unsigned cp = len == 1 ? c : len == 2 ? (c & 0x1f) : len == 3 ? (c & 0x0f) : (c & 0x07);
        for (int k = 1; k < len; ++k) {
            unsigned char d = s[i + k];
            if ((d >> 6) != 2) return false;
            cp = (cp << 6) | (d & 0x3f);
        }
        static const unsigned minFor[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < minFor[len] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return false;
        i += len;
    }
    return true;
}
