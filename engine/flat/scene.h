#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "flat/geometry.h"
#include "flat/palette.h"
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
Image8 neutralizeGrays(Image8 img);
// A new transparent high-precision surface; ends the process beyond maxSurfaceSide.
SurfaceF ctx16(int w, int h);
