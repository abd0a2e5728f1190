#include "base/opts.h"

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstdlib>

#include "base/die.h"

bool readNumber(const std::string& text, double& out) {
    if (text.empty() || text[0] == ' ' || text[0] == '\t') return false;
    // strtod follows LC_NUMERIC; the engine never changes it from "C".
    const char* begin = text.c_str();
    char* end = nullptr;
    double v = std::strtod(begin, &end);
    if (end != begin + text.size()) return false;
    out = v;
    return true;
}

bool readInt(const std::string& text, long long& out) {
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (i == text.size()) return false;
    for (size_t j = i; j < text.size(); ++j)
        if (text[j] < '0' || text[j] > '9') return false;
    errno = 0;
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE) return false;
    out = v;
    return true;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string joinDots(const std::vector<std::string>& items) {
    std::string s;
    for (size_t i = 0; i < items.size(); ++i) s += (i ? "·" : "") + items[i];
    return s;
}

const std::string& value(const std::vector<std::string>& args, size_t i) {
    if (i + 1 >= args.size()) die(args[i] + " needs a value");
    return args[i + 1];
}

const char* layoutName(Layout l) {
    switch (l) {
    case Layout::full: return "full";
    case Layout::closeup: return "closeup";
    case Layout::spin: return "spin";
    case Layout::closeupSpin: return "closeup_spin";
    }
    return "full";
}

Layout parseLayout(const std::string& name) {
    std::vector<std::string> names;
    for (Layout l : allLayouts) {
        if (name == layoutName(l)) return l;
        names.push_back(layoutName(l));
    }
    die("unknown layout: " + name + "  (want " + joinDots(names) + ")");
}

Opts::Opts(const std::vector<std::string>& args) {
    // Layout words are checked after the pass, outs first, so keep the text until then.
    std::string layoutWord = "full";
    std::vector<std::string> outLayouts;
    size_t i = 0;
    while (i < args.size()) {
        const std::string& a = args[i];
        if (a == "--out") {
            if (i + 3 >= args.size()) die("--out needs <path> <WxH> <layout>");
            outs.push_back({args[i + 1], args[i + 2], Layout::full});
            outLayouts.push_back(args[i + 3]);
            i += 4;
        } else if (a == "--theme" || a == "--size" || a == "--layout") {
            const std::string& v = value(args, i);
            (a == "--theme" ? theme : a == "--size" ? size : layoutWord) = v;
            i += 2;
        } else if (a == "--title" || a == "--subtitle" || a == "--backdrop") {
            const std::string& v = value(args, i);
            (a == "--title" ? title : a == "--subtitle" ? subtitle : backdrop) = v;
            if (a == "--backdrop" && v.empty()) die("bad --backdrop:   (want #RRGGBB, #RRGGBB,#RRGGBB or a picture)");
            i += 2;
        } else if (a == "--caption") {
            const std::string& v = value(args, i);
            if (v != "top" && v != "bottom") die("unknown caption: " + v + "  (want top·bottom)");
            captionBottom = v == "bottom";
            i += 2;
        } else if (a == "--start" || a == "--max") {
            const std::string& v = value(args, i);
            double d = 0;
            if (!readNumber(v, d) || !(d >= 0)) die(a + " wants seconds, got " + v);
            (a == "--start" ? startSec : maxSec) = d;
            i += 2;
        } else if (a == "--progress") {
            report = Report::lines;
            i += 1;
        } else if (a.rfind("--", 0) == 0) {
            die("unknown option: " + a);
        } else {
            files.push_back(a);
            fileArgs.push_back(i);
            i += 1;
        }
    }
    for (size_t k = 0; k < outs.size(); ++k) outs[k].layout = parseLayout(outLayouts[k]);
    layout = parseLayout(layoutWord);
}

const std::vector<NamedSize>& namedSizes() {
    // The portrait sizes of the stores' screenshot classes; the phone class is named
    // after the display's diagonal in inches.
    static const std::vector<NamedSize> all = [] {
        const NamedSize portrait[] = {
            {"iphone-6.9", 1320, 2868}, {"iphone-6.7", 1290, 2796}, {"iphone-6.5", 1284, 2778},
            {"iphone-6.3", 1206, 2622}, {"iphone-6.1", 1170, 2532}, {"iphone-5.5", 1242, 2208},
            {"ipad-13", 2064, 2752},    {"ipad-12.9", 2048, 2732},  {"ipad-11", 1668, 2388},
        };
        std::vector<NamedSize> v;
        for (const NamedSize& s : portrait) {
            v.push_back(s);
            v.push_back({s.name + "-landscape", s.h, s.w});
        }
        return v;
    }();
    return all;
}

std::optional<std::pair<int, int>> readSize(const std::string& text) {
    for (const NamedSize& s : namedSizes())
        if (text == s.name) return std::make_pair(s.w, s.h);
    std::vector<std::string> pieces;
    std::string cur;
    for (char c : text) {
        if (c == 'x') {
            if (!cur.empty()) pieces.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) pieces.push_back(cur);
    long long w = 0, h = 0;
    if (pieces.size() != 2 || !readInt(pieces[0], w) || !readInt(pieces[1], h) || w < 1 || h < 1 || w > 2147483647 ||
        h > 2147483647)
        return std::nullopt;
    return std::make_pair(int(w), int(h));
}

std::pair<int, int> parseSize(const std::string& text) {
    if (auto size = readSize(text)) return *size;
    die("bad --size: " + text + "  (want WxH, e.g. 1080x1920)");
}

std::string decimal(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}
