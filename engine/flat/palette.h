#pragma once
#include <memory>
#include <optional>
#include <string>

#include "flat/surface.h"

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

// Text on the backdrop, from --title, --subtitle and --caption; empty texts are none.
struct Caption {
    std::string title, subtitle;
    bool bottom = false;
    bool empty() const { return title.empty() && subtitle.empty(); }
};

// The base beneath the glow: the theme's colour, one colour of one's own, a gradient from
// the top edge to the bottom edge, or a picture that covers the frame.
struct Backdrop {
    enum class Kind { theme, solid, gradient, picture } kind = Kind::theme;
    Color top, bottom;                      // solid: both the same
    std::shared_ptr<const Image8> picture;  // upright, premultiplied
    std::string path;                       // the picture's file, as given
};

// The --backdrop text read as a colour or two, or nothing: a picture's path.
std::optional<Backdrop> readBackdropColours(const std::string& text);

struct Style {
    bool dark = true;
    Palette pal;
    Caption caption;
    Backdrop backdrop;

    explicit Style(const Opts& opts);
    Style(bool isDark, Palette p) : dark(isDark), pal(std::move(p)) {}
};

// Ends with "will not write over the backdrop: " + out when out names the backdrop
// picture, also through another spelling or a link.
void refuseOverwriteBackdrop(const std::string& out, const Style& style);

// The theme's palette read from the look file; ends the process on a bad entry.
Palette themePalette(bool dark);
