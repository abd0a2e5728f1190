#pragma once
#include <string>
#include <utility>

// "WxH" as parseSize reads it, with even sides: H.264 in 4:2:0 cannot hold odd ones.
// Ends with "bad --size: " + text + "  (video wants even sides, e.g. 1080x1920)".
std::pair<int, int> parseVideoSize(const std::string& text);

// The shortest text that reads back as the same double, always with a fractional part
// when it has no exponent: 60 -> "60.0", 2.5 -> "2.5".
std::string shortestDecimal(double v);
