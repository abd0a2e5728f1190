#pragma once
#include <optional>
#include <string>

struct Opts;

// sRGB-encoded colour, not premultiplied.
struct Color {
    double r = 0, g = 0, b = 0, a = 1;
};

// "#RRGGBB" (or without "#") with the given alpha; ends the process on other text.
Color cgColor(const std::string& text, double alpha = 1);
// The same, or nothing for other text.
std::optional<Color> readColour(const std::string& text, double alpha = 1);
inline Color white(double alpha) { return {1, 1, 1, alpha}; }

struct Palette {
    std::string base, bodyTop, bodyBot;
    double glowOp = 0, shadowOp = 0;
    double edge = 0, edgeBlur = 0;
    double glass = 0, glassBlur = 0;
    bool edgeLit = false;
};

struct Style {
    bool dark = true;
    Palette pal;

    explicit Style(const Opts& opts);
    Style(bool isDark, Palette p) : dark(isDark), pal(std::move(p)) {}
};

// The theme's palette read from the look file; ends the process on a bad entry.
Palette themePalette(bool dark);
