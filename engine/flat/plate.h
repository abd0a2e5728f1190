#pragma once
#include "flat/geometry.h"
#include "flat/palette.h"
#include "flat/surface.h"

// Backdrop colour and the white glow over the whole surface.
void drawStudio(SurfaceF& s, int W, int H, const Palette& pal);
// The ambient and contact ground shadows, drawn at a quarter of the resolution.
void drawGrounding(SurfaceF& s, int W, int H, const Geo& geo, const Palette& pal);
// Backdrop, shadows, body gradient and edge light.
SurfaceF makePlate(int W, int H, const Geo& geo, const Palette& pal);
// The screen's inner shadow as the alpha of a black overlay; all zero when glass <= 0.
void drawGlass(Plane& alpha, const Geo& geo, const Palette& pal);

// Opacity of the shadow that a ring around an outline casts at signed distance d from
// that outline (negative inside), for a shadow of blur value `blur`.
// `curvature` is that of the nearest stretch of outline (outlineCurvature).
float ringShadow(float d, double blur, float curvature = 0);
float outlineCurvature(float px, float py, const Rect& r, float radius, double blur);
