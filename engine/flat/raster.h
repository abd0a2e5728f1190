#pragma once
#include <algorithm>
#include <cmath>

#include "flat/palette.h"
#include "flat/surface.h"

// Signed distance from (px, py) to the outline of a rounded rectangle: negative
// inside. The radius is clamped to half the shorter side.
float roundedRectDistance(float px, float py, const Rect& r, float radius);

// Area coverage of a pixel by a shape at signed distance d from its centre:
// clamp(0.5 - d, 0, 1), a one-pixel ramp that keeps hairlines visible.
inline float coverageOf(float d) { return d <= -0.5f ? 1.f : d >= 0.5f ? 0.f : 0.5f - d; }

// Rounds a non-negative value to the nearest 8-bit level, clamping at 255.
inline uint8_t round8(float v) { return uint8_t(v >= 254.5f ? 255 : v <= 0 ? 0 : int(v + 0.5f)); }
// The same for a 0..1 value.
inline uint8_t unit8(float v) { return round8(v * 255.f); }

// Fills with a colour, source-over, anti-aliased by analytic coverage.
void fill(View8 dst, Color c);
void fillRoundedRect(View8 dst, const Rect& r, double radius, Color c);
void fillRoundedRect(SurfaceF& dst, const Rect& r, double radius, Color c);

// Coverage of a rounded rectangle, added into a plane (max with what is there).
void coverRoundedRect(Plane& dst, const Rect& r, double radius);

// Separable Gaussian blur of a plane; pixels outside count as 0.
void gaussianBlur(Plane& p, double sigma);
// How many pixels from its centre that blur's kernel reaches.
inline int blurReach(double sigma) { return std::max(1, int(std::ceil(3.5 * sigma))); }

// Standard normal cumulative distribution, used for soft edges of straight outlines.
float normalCdf(float x);

// Composites src over dst with its bottom-left corner at (x, y) in dst pixels.
void drawOver(View8 dst, const Image8& src, int x, int y);

// Whether loops with a 256-bit form (the scaler, grey neutralisation, BGRA to 4:2:0) use
// it: where the processor has such registers, unless switched off. Both forms give the
// same bytes; tests compare them.
bool wideRegisters();
void useWideRegisters(bool wide);

// Runs body(i) for i in [0, n) on the machine's cores and returns when all are done.
template <class F> void parallelFor(int n, F&& body);
void parallelForImpl(int n, void (*fn)(void*, int), void* ctx);
template <class F> void parallelFor(int n, F&& body) {
    parallelForImpl(
        n, [](void* c, int i) { (*static_cast<F*>(c))(i); }, &body);
}

// Visits a rounded rectangle row by row, bottom row first: interior(y, x0, x1) for the
// pixels at least `reach` inside the outline, edge(x, y, d) with the signed distance d
// for the other pixels of the row that the shape touches (d < 0.5).
template <class Interior, class Edge>
void scanRoundedRect(const Rect& r, float radius, float reach, int w, int h, Interior&& interior, Edge&& edge);
// The same for the one row y.
template <class Interior, class Edge>
void scanRoundedRectRow(const Rect& r, float radius, float reach, int w, int y, Interior&& interior, Edge&& edge);

#include "flat/raster_scan.h"
