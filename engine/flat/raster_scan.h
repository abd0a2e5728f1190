#pragma once
// Template bodies of the rounded-rectangle scans; included by raster.h only.
#include <algorithm>
#include <cmath>

// The pixels of row y that a rounded rectangle may touch, and among them those at least
// `reach` inside its outline.
struct RowCover {
    Span touched, interior;
};

inline RowCover rowCover(const Rect& r, float radius, float reach, int w, int y) {
    const float cy = y + 0.5f;
    if (cy < r.y - 0.5 || cy > r.maxY() + 0.5) return {};
    const float R = std::clamp(radius, 0.f, float(std::min(r.w, r.h)) / 2);
    const Rect in = r.inset(reach);
    const float inR = std::max(R - reach, 0.f);
    const int x0 = std::max(0, int(std::floor(r.x - 0.5))), x1 = std::min(w, int(std::ceil(r.maxX() + 0.5)));
    if (x1 <= x0) return {};
    // The interior span of this row: the inset rounded rectangle's extent at cy.
    int ia = x1, ib = x1;
    if (in.w > 0 && in.h > 0 && cy >= in.y && cy <= in.maxY()) {
        float dx = 0;
        const float fromEdge = std::min(cy - float(in.y), float(in.maxY()) - cy);
        if (fromEdge < inR) {
            const float t = inR - fromEdge;
            dx = inR - std::sqrt(std::max(inR * inR - t * t, 0.f));
        }
        const float left = float(in.x) + dx, right = float(in.maxX()) - dx;
        ia = std::clamp(int(std::ceil(left - 0.5f)), x0, x1);
        ib = std::clamp(int(std::floor(right - 0.5f)) + 1, ia, x1);
    }
    return {{x0, x1}, {ia, ib}};
}

template <class Interior, class Edge>
void scanRoundedRectRow(const Rect& r, float radius, float reach, int w, int y, Interior&& interior, Edge&& edge) {
    const RowCover c = rowCover(r, radius, reach, w, y);
    if (c.touched.empty()) return;
    const float cy = y + 0.5f;
    const float R = std::clamp(radius, 0.f, float(std::min(r.w, r.h)) / 2);
    const int ia = c.interior.x0, ib = c.interior.x1;
    for (int x = c.touched.x0; x < ia; ++x) {
        const float d = roundedRectDistance(x + 0.5f, cy, r, R);
        if (d < 0.5f) edge(x, y, d);
    }
    if (ib > ia) interior(y, ia, ib);
    for (int x = std::max(ib, ia); x < c.touched.x1; ++x) {
        const float d = roundedRectDistance(x + 0.5f, cy, r, R);
        if (d < 0.5f) edge(x, y, d);
    }
}

template <class Interior, class Edge>
void scanRoundedRect(const Rect& r, float radius, float reach, int w, int h, Interior&& interior, Edge&& edge) {
    const int y0 = std::max(0, int(std::floor(r.y - 0.5))), y1 = std::min(h, int(std::ceil(r.maxY() + 0.5)));
    for (int y = y0; y < y1; ++y) scanRoundedRectRow(r, radius, reach, w, y, interior, edge);
}
