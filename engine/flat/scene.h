#pragma once
#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "flat/geometry.h"
#include "flat/palette.h"
#include "flat/raster.h"
#include "flat/surface.h"

// A screen glass overlay: black with this alpha, only inside the screen outline.
struct Glass {
    Plane alpha;                             // w x h
    std::vector<std::pair<int, int>> spans;  // per top-row index: [x0, x1) holding alpha
};

// One flat output: everything that does not change from frame to frame.
struct Scene {
    int w = 0, h = 0;
    Image8 plate;                // dithered, exactly w x h
    Geo geo;                     // at the output size
    std::optional<Glass> glass;  // none when the palette's glass is 0 or less

    // Ends the process on an unknown layout or a size beyond maxSurfaceSide.
    Scene(int w, int h, Layout layout, double a, double b, const Style& style, double grain);

    // Plate, screen, glass into a w x h surface.
    void draw(View8 dst, const Image8& content) const;
};

// Lanczos of the content into geo.screen rounded out to whole pixels, clipped by the
// exact rounded screen outline.
void drawScreen(View8 dst, const Image8& content, const Geo& geo);
void drawScreen(View8 dst, const View8& content, const Geo& geo);

// Fixed grey grain: amount * (mean of three uniform values - 0.5) at (x, y).
float grainAt(int x, int y, double amount);
// Adds the grain and rounds to 8 bits.
Image8 dither(const SurfaceF& img, double amount);
// Near-grey pixels become exactly grey; clearly coloured ones stay.
void neutralizeGrays(View8 img);
// The same for one pixel; true when it changed.
inline bool neutralizeGray(Px8& p) {
    const int mx = std::max({p.r, p.g, p.b}), mn = std::min({p.r, p.g, p.b});
    const int chroma = mx - mn;
    // mask = clamp(24 * chroma - 48/255): 0 up to 2/255, 1 from 13/255 on.
    if (chroma == 0 || chroma >= 13) return false;
    const int sum = p.r + p.g + p.b;
    if (chroma <= 2) {
        // The mask is 0: the mean, rounded (a third is never a half).
        const uint8_t grey = uint8_t((2 * sum + 3) / 6);
        p = {grey, grey, grey, p.a};
        return true;
    }
    const float grey = sum / 3.f;
    const float m = (24.f * chroma - 48.f) / 255.f;
    auto mix = [&](uint8_t c) { return round8(c * m + grey * (1 - m)); };
    p = {mix(p.b), mix(p.g), mix(p.r), p.a};
    return true;
}
Image8 neutralizeGrays(Image8 img);
// A new transparent high-precision surface; ends the process beyond maxSurfaceSide.
SurfaceF ctx16(int w, int h);
