#pragma once
#include <cstddef>
#include <vector>

#include "spin/vec.h"

// The turning device as a plain triangle list, built in double precision from the flat
// layout's body so that, seen straight on, its front face lies on the flat outline.
// Model space: x right, y up, z towards the viewer, body centred on the origin, lengths
// in canvas pixels.

// One GPU vertex, uploaded as-is: p = (x, y, z, kind), n = (normal, tint).
struct SpinVtx {
    float p[4];
    float n[4];
};
static_assert(sizeof(SpinVtx) == 32);

// Surface kinds, the shader's switch.
enum SurfaceKind { FrontFace = 0, Clay = 1, BackFace = 2, PlateauTop = 3 };

// An orthonormal frame, so that one routine builds parts facing any way.
struct Frame3 {
    Vec3 u, v, w;
    Vec3 at(double a, double b, double c) const { return a * u + b * v + c * w; }
    static Frame3 front() { return {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}; }
    static Frame3 back() { return {{1, 0, 0}, {0, 1, 0}, {0, 0, -1}}; }
};

struct RingPoint {
    Vec2 p, n;  // position and outward unit normal
};

// The outline of a rounded rectangle (centre c, half sizes h, corner radius r) moved
// inwards by inset: 4 * (seg + 1) points counter-clockwise from the upper end of the
// right edge. Each corner arc has seg steps; the straight sides are the gaps between
// arcs. Ends the process when seg < 1.
std::vector<RingPoint> rrRing(Vec2 c, Vec2 h, double r, double inset, int seg);

// One rounded slab: a rounded-rectangle prism in frame f from depth w0 to w1, capped
// at w1 with a quarter-round edge of radius e.
struct SlabSpec {
    Vec2 c, h;
    double r = 0;
    double w0 = 0, w1 = 0, e = 0;
    int capKind = FrontFace, wallKind = Clay;
    float tint = 1;
    int seg = 16, round = 8;
    bool outline = false;  // add the rounded edge's rings to the hull
    double window = 0;     // above e: the cap's part this far inside the outline comes last, on its own
};

struct Mesh {
    std::vector<SpinVtx> v;  // three consecutive vertices per triangle
    std::vector<Vec3> hull;  // points on the outer edge, for the ground shadow's outline

    static SpinVtx vtx(Vec3 p, Vec3 n, int kind, float tint);
    // Ends the process when round < 1 or seg < 1. Returns how many vertices the last
    // part of the cap took: all of it, or the window's interior.
    size_t slab(const Frame3& f, const SlabSpec& s);
    // Orders every triangle's corners counter-clockwise seen from outside, as its vertex
    // normals point: the parts are closed, or open only inside another, so a renderer may
    // drop the triangles facing away and lose nothing it would have shown.
    void orientOutwards();

private:
    // The flat cap at depth s.w1 within the outline moved inwards by inset.
    void cap(const Frame3& f, const SlabSpec& s, double inset);
};

// The camera bump in model x/y, for the shader's contact shading.
struct CameraLayout {
    Vec2 centre;
    double half = 0, radius = 0;
    std::vector<Vec2> lenses;
    double lensR = 0;
    double height = 0;  // plateau top above the back face
};

struct DeviceMesh {
    Mesh mesh;
    CameraLayout camera;
    size_t frontVerts = 0;   // the front half comes first: mesh.v[0, frontVerts)
    size_t windowVerts = 0;  // of which the last ones fill the window, if any
};

// The whole device: hw, hh half body size, R body corner radius, T thickness, e radius
// of the rounded edge of both faces; window: when above e, the front face's part this
// far inside the body outline (the screen's interior) is drawn apart, last in the front.
DeviceMesh deviceMesh(double hw, double hh, double R, double T, double e, double window = 0);
