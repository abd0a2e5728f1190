#pragma once
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "flat/geometry.h"
#include "flat/palette.h"
#include "flat/raster.h"
#include "flat/surface.h"

class Lanczos;
class SceneRows;

// Grain of the plate. A still is looked at closely and keeps it faint; a video's plate
// takes more, and a poster stands in for its video.
inline constexpr double stillGrain = 0.008;
inline constexpr double videoGrain = 0.03;

// A screen glass overlay: black with this alpha, only inside the screen outline.
struct Glass {
    Plane alpha;                             // w x h
    std::vector<std::pair<int, int>> spans;  // per top-row index: [x0, x1) holding alpha
};

// Whether making a scene of this size and style could end the process (a size beyond
// maxSurfaceSide, a palette colour that does not read): work that overlaps making it
// and may fail itself must not let the scene's message come first.
bool sceneMayFail(int w, int h, const Style& style);

// Whether the plate is drawn once and reused for every frame (videos), or drawn row by
// row where a picture that is drawn once needs it (stills, posters).
enum class PlateUse { everyFrame, once };

// One flat output: everything that does not change from frame to frame.
struct Scene {
    int w = 0, h = 0;
    Image8 plate;                              // dithered, exactly w x h; empty with PlateUse::once
    Geo geo;                                   // at the output size
    Room room;                                 // the rows a caption leaves to the device; whole without one
    std::optional<Glass> glass;                // none when the palette's glass is 0 or less, or with PlateUse::once
    std::shared_ptr<const SceneRows> rows;     // with PlateUse::once: plate and glass drawn on demand
    std::shared_ptr<const SceneRows> backing;  // always: what the plate is drawn from

    // Ends the process on an unknown layout or a size beyond maxSurfaceSide.
    Scene(int w, int h, Layout layout, double a, double b, const Style& style, double grain,
          PlateUse use = PlateUse::everyFrame);

    // The backdrop with its glow and caption, without shadows or device, at the output
    // size: what a turning device moves over.
    SurfaceF studio() const;

    // Plate, screen, glass into a w x h surface.
    void draw(View8 dst, const Image8& content) const;
};

// The content resampled into the screen's rectangle rounded out to whole pixels and
// clipped by the exact rounded outline, drawn source-over: see-through content shows
// the device body beneath it.
class ScreenContent {
public:
    ScreenContent(const View8& content, const Geo& geo, int frameW, int frameH);
    // Frame rows [top, top + band.h), counted from the top. Safe from several threads.
    void paint(View8 band, int top) const;
    // The pixels of frame row y (from the bottom) that the content covers wholly; empty
    // when the content has see-through pixels.
    Span hides(int y) const;

private:
    View8 m_content;
    Geo m_geo;
    int m_w, m_h;
    int m_x0 = 0, m_y0 = 0, m_rw = 0, m_rh = 0;  // the whole-pixel screen rectangle
    bool m_opaque = true;
    std::shared_ptr<const Lanczos> m_scale;
};

// One frame of a scene with its content, drawn band by band on any thread: for a picture
// that is drawn once and encoded while it is drawn.
class SceneFrame {
public:
    SceneFrame(const Scene& scene, const View8& content);
    // Frame rows [top, top + band.h), counted from the top.
    void draw(View8 band, int top) const;

private:
    const Scene& m_scene;
    ScreenContent m_screen;
};

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
