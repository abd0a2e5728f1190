#pragma once
#include <memory>
#include <vector>

#include "flat/dress.h"
#include "flat/geometry.h"
#include "flat/palette.h"
#include "flat/resample.h"
#include "flat/surface.h"

// The plate, one row at a time: backdrop with glow, the two ground shadows (a quarter-
// resolution layer drawn four times up), the body gradient and its edge light. Rows are
// independent, so callers may stream and parallelise them without the whole surface.
class PlateRows {
public:
    // `dress`, where given, replaces the base and lays the caption on the backdrop.
    PlateRows(int W, int H, const Geo& geo, const Palette& pal, std::shared_ptr<const Dress> dress = nullptr);
    // Row y (counted from the bottom) into W pixels. The pixels of `hidden` are left as
    // they are: the caller covers them with opaque content. `scratch` is the caller's,
    // one per thread.
    void row(int y, PxF* out, std::vector<float>& scratch, Span hidden = {}) const;
    // The backdrop colour and the glow over the pixels `part` of row y.
    void studioRow(int y, PxF* out, Span part) const;

private:
    void groundingRow(int y, PxF* out, Span part, std::vector<float>& scratch) const;
    void bodyRow(int y, PxF* out, Span hidden) const;

    int m_w, m_h;
    Geo m_geo;
    Palette m_pal;
    Color m_base, m_top, m_bot;
    Plane m_layer;  // quarter-resolution shadow alpha
    Lanczos m_up;   // the layer four times up
    std::shared_ptr<const Dress> m_dress;
    double m_edgeBlur;
    float m_bodyReach;  // how far inside the outline the body is plain gradient
};

// Backdrop colour and the white glow over the whole surface.
void drawStudio(SurfaceF& s, int W, int H, const Palette& pal);
// Backdrop, shadows, body gradient and edge light.
SurfaceF makePlate(int W, int H, const Geo& geo, const Palette& pal);
// The screen's inner shadow as the alpha of a black overlay; all zero when glass <= 0.
void drawGlass(Plane& alpha, const Geo& geo, const Palette& pal);
// Row y of it: writes the pixels near the screen outline of a row `w` pixels wide and
// leaves the others as they are.
void glassRow(int y, float* alpha, int w, const Geo& geo, const Palette& pal);

// Opacity of the shadow that a ring around an outline casts at signed distance d from
// that outline (negative inside), for a shadow of blur value `blur`.
// `curvature` is that of the nearest stretch of outline (outlineCurvature).
float ringShadow(float d, double blur, float curvature = 0);
float outlineCurvature(float px, float py, const Rect& r, float radius, double blur);
