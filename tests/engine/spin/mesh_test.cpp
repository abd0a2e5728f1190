#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "look/look.h"
#include "spin/mesh.h"

namespace {

// Signed distance to a rounded rectangle centred on the origin; negative inside.
double sdRR(double x, double y, double hw, double hh, double r) {
    const double qx = std::abs(x) - hw + r, qy = std::abs(y) - hh + r;
    return std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) - r;
}

// Half body of a 2160 x 3840 render, roughly what a phone screenshot gives.
constexpr double hw = 760, hh = 1550, R = 230, T = 2 * hw * 0.085, e = 0.85 * 70;

}  // namespace

TEST(RRRing, FullRoundIsACircle) {
    const auto ring = rrRing({10, -4}, {50, 50}, 50, 0, 12);
    ASSERT_EQ(ring.size(), 4u * 13);
    for (const RingPoint& q : ring) {
        EXPECT_NEAR(std::hypot(q.p.x - 10, q.p.y + 4), 50, 1e-9);
        EXPECT_NEAR(std::hypot(q.n.x, q.n.y), 1, 1e-12);
    }
}

TEST(RRRing, OneStepCornersAndInset) {
    const auto ring = rrRing({0, 0}, {40, 20}, 5, 2, 1);
    ASSERT_EQ(ring.size(), 8u);
    // Counter-clockwise from the upper end of the right edge; normals along the axes.
    const Vec2 want[] = {{38, 15}, {35, 18}, {-35, 18}, {-38, 15}, {-38, -15}, {-35, -18}, {35, -18}, {38, -15}};
    const Vec2 norms[] = {{1, 0}, {0, 1}, {0, 1}, {-1, 0}, {-1, 0}, {0, -1}, {0, -1}, {1, 0}};
    for (int i = 0; i < 8; ++i) {
        EXPECT_NEAR(ring[i].p.x, want[i].x, 1e-9) << i;
        EXPECT_NEAR(ring[i].p.y, want[i].y, 1e-9) << i;
        EXPECT_NEAR(ring[i].n.x, norms[i].x, 1e-12) << i;
        EXPECT_NEAR(ring[i].n.y, norms[i].y, 1e-12) << i;
    }
}

TEST(RRRingDeathTest, RejectsNoSegments) {
    EXPECT_EXIT(rrRing({0, 0}, {1, 1}, 0.5, 0, 0), testing::ExitedWithCode(1), "segment count 0");
    Mesh m;
    EXPECT_EXIT(m.slab(Frame3::front(), {.c = {0, 0}, .h = {4, 4}, .r = 1, .w1 = 1, .round = 0}),
                testing::ExitedWithCode(1), "round 0");
}

TEST(DeviceMesh, WholeTrianglesAndFiniteValues) {
    const DeviceMesh d = deviceMesh(hw, hh, R, T, e);
    EXPECT_EQ(d.mesh.v.size() % 3, 0u);
    // Each body half: a wall, eight rounding bands and a cap fan over 196-point rings.
    EXPECT_GT(d.mesh.v.size(), 2u * (9 * 196 * 6 + 196 * 3));
    for (const SpinVtx& v : d.mesh.v) {
        for (int i = 0; i < 4; ++i) ASSERT_TRUE(std::isfinite(v.p[i]) && std::isfinite(v.n[i]));
        ASSERT_NEAR(std::hypot(v.n[0], v.n[1], v.n[2]), 1, 1e-5);
        const int kind = int(v.p[3]);
        ASSERT_TRUE(kind >= 0 && kind <= 3 && v.p[3] == float(kind));
    }
    // Both faces' rounded edges: nine rings of 196 points each.
    EXPECT_EQ(d.mesh.hull.size(), 2u * 9 * 196);
}

TEST(DeviceMesh, FrontFaceLiesOnTheFlatOutline) {
    const DeviceMesh d = deviceMesh(hw, hh, R, T, e);
    int onFace = 0, onOuterRing = 0;
    for (const SpinVtx& v : d.mesh.v) {
        if (v.p[2] == float(T / 2)) {
            ++onFace;
            EXPECT_LE(sdRR(v.p[0], v.p[1], hw, hh, R), 1e-3);
            EXPECT_EQ(int(v.p[3]), FrontFace);
        }
        if (std::abs(v.p[2] - float(T / 2 - e)) < 1e-4 && int(v.p[3]) == FrontFace) {
            ++onOuterRing;
            EXPECT_NEAR(sdRR(v.p[0], v.p[1], hw, hh, R), 0, 1e-3);
        }
    }
    EXPECT_GT(onFace, 196 * 3);
    EXPECT_GT(onOuterRing, 196);
    // The hull runs along the body outline at both faces.
    for (const Vec3& p : d.mesh.hull) {
        EXPECT_LE(sdRR(p.x, p.y, hw, hh, R), 1e-9);
        EXPECT_LE(std::abs(p.z), T / 2 + 1e-9);
    }
}

TEST(DeviceMesh, NothingStandsProudOfTheFrontFace) {
    // The front must be flat: buttons and the camera stay behind or beside it.
    const DeviceMesh d = deviceMesh(hw, hh, R, T, e);
    float zmax = -1e9f, zmin = 1e9f, xmax = 0;
    for (const SpinVtx& v : d.mesh.v) {
        zmax = std::max(zmax, v.p[2]);
        zmin = std::min(zmin, v.p[2]);
        xmax = std::max(xmax, std::abs(v.p[0]));
    }
    EXPECT_FLOAT_EQ(zmax, float(T / 2));
    const CameraLayout& c = d.camera;
    // Lenses stand above the plateau, which stands above the back.
    EXPECT_LT(zmin, -(T / 2 + c.height));
    EXPECT_GT(xmax, hw);  // buttons
    EXPECT_LT(xmax, hw * 1.02);
    ASSERT_EQ(c.lenses.size(), 3u);
    for (const Vec2& l : c.lenses)
        EXPECT_LE(sdRR(l.x - c.centre.x, l.y - c.centre.y, c.half, c.half, c.radius), -c.lensR * 0.5);
    EXPECT_LE(c.centre.x + c.half, hw);
    EXPECT_LE(c.centre.y + c.half, hh);
    EXPECT_GT(c.centre.x, 0);
}

// A renderer drops the triangles facing away, so every one must be wound to face out:
// checked against the geometry, not the normals the winding was made from.
TEST(DeviceMesh, TrianglesFaceOutwards) {
    const DeviceMesh d = deviceMesh(hw, hh, R, T, e, 3 * e);
    int front = 0, back = 0, sides = 0;
    for (size_t i = 0; i < d.mesh.v.size(); i += 3) {
        const float* a = d.mesh.v[i].p;
        const float* b = d.mesh.v[i + 1].p;
        const float* c = d.mesh.v[i + 2].p;
        const double ux = b[0] - a[0], uy = b[1] - a[1], uz = b[2] - a[2];
        const double vx = c[0] - a[0], vy = c[1] - a[1], vz = c[2] - a[2];
        const double nx = uy * vz - uz * vy, nz = ux * vy - uy * vx;
        auto all = [&](auto pred) { return pred(a) && pred(b) && pred(c); };
        if (all([](const float* p) { return p[2] == float(T / 2); })) {
            ++front;
            ASSERT_GT(nz, 0) << i;
        } else if (all([](const float* p) { return p[2] == float(-T / 2); })) {
            ++back;
            ASSERT_LT(nz, 0) << i;
        } else if (all([](const float* p) { return std::abs(std::abs(p[0]) - float(hw)) < 1e-3; })) {
            ++sides;  // the body's straight side walls
            ASSERT_GT(nx * a[0], 0) << i;
        }
    }
    EXPECT_GT(front, 100);
    EXPECT_GT(back, 100);
    EXPECT_GE(sides, 4);
}

TEST(DeviceMesh, ZeroEdgeRadiusLiesFlush) {
    const DeviceMesh d = deviceMesh(hw, hh, R, T, 0);
    // Every rounding ring collapses onto ring B at the face, so the hull rings coincide.
    const size_t ring = 196;
    for (size_t i = 0; i < 9 * ring; ++i) {
        const Vec3& p = d.mesh.hull[i];
        const Vec3& b = d.mesh.hull[i % ring];
        EXPECT_NEAR(p.x, b.x, 1e-9);
        EXPECT_NEAR(p.y, b.y, 1e-9);
        EXPECT_EQ(p.z, T / 2);
    }
}
