#include "video/args.h"

#include "base/die.h"
#include "base/opts.h"

std::pair<int, int> parseVideoSize(const std::string& text) {
    const auto [w, h] = parseSize(text);
    if (w % 2 || h % 2) die("bad --size: " + text + "  (video wants even sides, e.g. 1080x1920)");
    return {w, h};
}

std::string shortestDecimal(double v) {
    std::string s = decimal(v);
    if (s.find_first_of(".eni") == std::string::npos) s += ".0";
    return s;
}
