#include "spin/mesh.h"

#include <cmath>
#include <numbers>
#include <utility>

#include "look/look.h"
#include "base/die.h"

std::vector<RingPoint> rrRing(Vec2 c, Vec2 h, double r, double inset, int seg) {
    if (seg < 1) die("rrRing: segment count " + std::to_string(seg) + " is below 1");
    struct Corner {
        double sx, sy, a0;
    };
    static constexpr Corner corners[] = {{1, 1, 0}, {-1, 1, 0.5}, {-1, -1, 1.0}, {1, -1, 1.5}};
    std::vector<RingPoint> ring;
    ring.reserve(4 * size_t(seg + 1));
    for (const Corner& k : corners) {
        for (int j = 0; j <= seg; ++j) {
            const double theta = (k.a0 + j * 0.5 / seg) * std::numbers::pi;
            const double cs = std::cos(theta), sn = std::sin(theta);
            ring.push_back(
                {{c.x + k.sx * (h.x - r) + (r - inset) * cs, c.y + k.sy * (h.y - r) + (r - inset) * sn}, {cs, sn}});
        }
    }
    return ring;
}

SpinVtx Mesh::vtx(Vec3 p, Vec3 n, int kind, float tint) {
    return {{float(p.x), float(p.y), float(p.z), float(kind)}, {float(n.x), float(n.y), float(n.z), tint}};
}

size_t Mesh::slab(const Frame3& f, const SlabSpec& s) {
    if (s.round < 1) die("slab: round " + std::to_string(s.round) + " is below 1");
    const std::vector<RingPoint> base = rrRing(s.c, s.h, s.r, 0, s.seg);
    const size_t n = base.size();

    // One ring of the slab's surface, as GPU vertices.
    auto ring = [&](double inset, double depth, double cosT, double sinT, int kind) {
        const std::vector<RingPoint> pts = inset == 0 ? base : rrRing(s.c, s.h, s.r, inset, s.seg);
        std::vector<SpinVtx> out;
        out.reserve(n);
        for (const RingPoint& q : pts)
            out.push_back(vtx(f.at(q.p.x, q.p.y, depth), f.at(cosT * q.n.x, cosT * q.n.y, sinT), kind, s.tint));
        return out;
    };
    auto stitch = [&](const std::vector<SpinVtx>& a, const std::vector<SpinVtx>& b) {
        for (size_t i = 0; i < n; ++i) {
            const size_t j = (i + 1) % n;
            v.insert(v.end(), {a[i], b[i], b[j], a[i], b[j], a[j]});
        }
    };

    const double wb = s.w1 - s.e;
    stitch(ring(0, s.w0, 1, 0, s.wallKind), ring(0, wb, 1, 0, s.wallKind));
    // The painted cap begins where the straight wall ends.
    std::vector<SpinVtx> prev = ring(0, wb, 1, 0, s.capKind);
    if (s.outline)
        for (const RingPoint& q : base) hull.push_back(f.at(q.p.x, q.p.y, wb));
    for (int i = 1; i <= s.round; ++i) {
        const double theta = double(i) / s.round * std::numbers::pi / 2;
        const double inset = s.e * (1 - std::cos(theta)), depth = wb + s.e * std::sin(theta);
        std::vector<SpinVtx> next = ring(inset, depth, std::cos(theta), std::sin(theta), s.capKind);
        stitch(prev, next);
        if (s.outline)
            for (const RingPoint& q : rrRing(s.c, s.h, s.r, inset, s.seg)) hull.push_back(f.at(q.p.x, q.p.y, depth));
        prev = std::move(next);
    }
    // A window cuts the flat cap in two: the band along its outline, then the window's
    // interior on its own, last.
    const double inner = s.window > s.e ? s.window : s.e;
    if (inner > s.e) stitch(ring(s.e, s.w1, 0, 1, s.capKind), ring(inner, s.w1, 0, 1, s.capKind));
    const size_t before = v.size();
    cap(f, s, inner);
    return v.size() - before;
}

void Mesh::orientOutwards() {
    for (size_t i = 0; i + 2 < v.size(); i += 3) {
        auto pos = [&](size_t k) { return Vec3{v[i + k].p[0], v[i + k].p[1], v[i + k].p[2]}; };
        const Vec3 a = pos(0), b = pos(1), c = pos(2);
        const Vec3 e1 = b - a, e2 = c - a;
        const Vec3 face{e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
        double out = 0;
        for (size_t k = 0; k < 3; ++k) out += face.x * v[i + k].n[0] + face.y * v[i + k].n[1] + face.z * v[i + k].n[2];
        if (out < 0) std::swap(v[i + 1], v[i + 2]);
    }
}

// The flat cap inside the ring `inset` from the outline: the rectangle between the corner
// arcs' centres, a
// strip along each side and a fan in each corner. Large triangles where the area is: a
// rasteriser that shades whole blocks of pixels shades every block a triangle touches,
// and one fan from the centre would cut the face into slivers, each block shaded twice.
void Mesh::cap(const Frame3& f, const SlabSpec& s, double inset) {
    const std::vector<RingPoint> edge = rrRing(s.c, s.h, s.r, inset, s.seg);
    const size_t arc = size_t(s.seg) + 1;
    auto at = [&](Vec2 p) { return vtx(f.at(p.x, p.y, s.w1), f.w, s.capKind, s.tint); };
    auto tri = [&](Vec2 a, Vec2 b, Vec2 c) {
        if (std::abs((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x)) > 1e-9)
            v.insert(v.end(), {at(a), at(b), at(c)});
    };
    const double ix = s.h.x - s.r, iy = s.h.y - s.r;
    const Vec2 core[4] = {{s.c.x + ix, s.c.y + iy},
                          {s.c.x - ix, s.c.y + iy},
                          {s.c.x - ix, s.c.y - iy},
                          {s.c.x + ix, s.c.y - iy}};  // the corners' order in rrRing
    tri(core[0], core[1], core[2]);
    tri(core[0], core[2], core[3]);
    for (size_t k = 0; k < 4; ++k) {
        const size_t next = (k + 1) % 4;
        for (size_t j = 0; j + 1 < arc; ++j) tri(core[k], edge[k * arc + j].p, edge[k * arc + j + 1].p);
        tri(core[k], edge[k * arc + arc - 1].p, edge[next * arc].p);
        tri(core[k], edge[next * arc].p, core[next]);
    }
}

DeviceMesh deviceMesh(double hw, double hh, double R, double T, double e, double window) {
    const double W = 2 * hw;
    DeviceMesh out;
    Mesh& m = out.mesh;

    SlabSpec body{.c = {0, 0},
                  .h = {hw, hh},
                  .r = R,
                  .w0 = 0,
                  .w1 = T / 2,
                  .e = e,
                  .capKind = FrontFace,
                  .wallKind = Clay,
                  .tint = 1,
                  .seg = 48,
                  .round = 8,
                  .outline = true,
                  .window = window};
    const size_t inner = m.slab(Frame3::front(), body);
    out.frontVerts = m.v.size();
    out.windowVerts = window > e ? inner : 0;
    body.capKind = BackFace;
    body.window = 0;
    m.slab(Frame3::back(), body);

    // Side buttons: (side, top, bottom), top and bottom as fractions of the body height
    // from the top edge; side +1 is the right edge seen from the front.
    struct Button {
        double side, top, bottom;
    };
    static constexpr Button buttons[] = {
        {+1, 0.255, 0.355}, {+1, 0.575, 0.655}, {-1, 0.18, 0.218}, {-1, 0.262, 0.322}, {-1, 0.346, 0.406}};
    const double p = 0.0075 * W;
    for (const Button& b : buttons) {
        // Buttons in the lower half stand out less.
        const double out_ = b.top > 0.5 ? 0.45 * p : p;
        const Frame3 side{{0, 1, 0}, {0, 0, 1}, {b.side, 0, 0}};
        m.slab(side, {.c = {hh - hh * (b.top + b.bottom), 0},
                      .h = {hh * (b.bottom - b.top), 0.21 * T},
                      .r = 0.21 * T,
                      .w0 = hw - 2 * p,
                      .w1 = hw + out_,
                      .e = 0.6 * out_,
                      .capKind = Clay,
                      .wallKind = Clay,
                      .tint = 1,
                      .seg = 10,
                      .round = 4});
    }

    // Camera plateau, top right seen from the front; sunk 2 px into the back face so no
    // gap shows at its foot.
    const double P = 0.47 * W, H = 0.016 * W;
    const Vec2 C{hw - 0.045 * W - P / 2, hh - 0.045 * W - P / 2};
    m.slab(Frame3::back(), {.c = C,
                            .h = {P / 2, P / 2},
                            .r = 0.26 * P,
                            .w0 = T / 2 - 2,
                            .w1 = T / 2 + H,
                            .e = H / 2,
                            .capKind = PlateauTop,
                            .wallKind = Clay,
                            .tint = 1,
                            .seg = 20,
                            .round = 5});

    const double rho = 0.205 * P, top = T / 2 + H, L = 0.02 * W;
    const float lensTint = float(lv().spinLensTint);
    const Vec2 lenses[] = {
        {C.x + 0.235 * P, C.y + 0.235 * P}, {C.x + 0.235 * P, C.y - 0.235 * P}, {C.x - 0.21 * P, C.y}};
    auto disc = [&](Vec2 c, double radius, double w0, double w1, double edge, int round, float tint, int seg) {
        m.slab(Frame3::back(), {.c = c,
                                .h = {radius, radius},
                                .r = radius,
                                .w0 = w0,
                                .w1 = w1,
                                .e = edge,
                                .capKind = Clay,
                                .wallKind = Clay,
                                .tint = tint,
                                .seg = seg,
                                .round = round});
    };
    for (const Vec2& c : lenses) {
        disc(c, rho, top - 2, top + L, 0.35 * L, 5, 1, 18);                                  // barrel
        disc(c, 0.8 * rho, top + L - 2, top + 1.16 * L, 0.12 * L, 5, 0.82f, 18);             // inner ring
        disc(c, 0.6 * rho, top + 1.16 * L - 2, top + 1.16 * L + 0.8, 0.5, 2, lensTint, 18);  // glass
    }
    disc({C.x - 0.25 * P, C.y + 0.32 * P}, 0.055 * P, top - 2, top + 1.5, 0.8, 2, 1, 10);        // flash
    disc({C.x - 0.25 * P, C.y - 0.32 * P}, 0.06 * P, top - 2, top + 1.5, 0.8, 2, lensTint, 10);  // sensor

    out.camera = {C, P / 2, 0.26 * P, {lenses[0], lenses[1], lenses[2]}, rho, H};
    m.orientOutwards();
    return out;
}
