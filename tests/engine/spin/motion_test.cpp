#include <gtest/gtest.h>

#include <cmath>

#include "look/look.h"
#include "support/support.h"
#include "spin/motion.h"
#include "spin/schedule.h"

TEST(SpinAngle, RestsAtBothEndsAndTurnsBetween) {
    ScopedLook o({{"spin_timing", "1,1.5,1"}});
    EXPECT_EQ(spinAngle(-5), 0);
    EXPECT_EQ(spinAngle(1), 0);
    EXPECT_GT(spinAngle(1.001), 0);
    EXPECT_LT(spinAngle(2.499), 360);
    EXPECT_EQ(spinAngle(2.5), 360);
    EXPECT_EQ(spinAngle(99), 360);
    EXPECT_EQ(spinAngle(NAN), 0);
    EXPECT_FALSE(spinTurning(1));
    EXPECT_TRUE(spinTurning(1.75));
    EXPECT_FALSE(spinTurning(2.5));
    // Monotone through the turn.
    double prev = 0;
    for (int i = 0; i <= 300; ++i) {
        const double a = spinAngle(1 + 1.5 * i / 300);
        EXPECT_GE(a, prev);
        prev = a;
    }
}

TEST(SpinAngle, HalfwayIsHalfATurnForAnyEase) {
    for (const char* ease : {"0.45,0.0", "0.1,0.9", "1,1", "0.3333333333333333,0.3333333333333333"}) {
        ScopedLook o({{"spin_timing", "0.5,2.2,0.8"}, {"spin_ease", ease}});
        EXPECT_NEAR(spinAngle(0.5 + 1.1), 180, 1e-9) << ease;
    }
}

TEST(SpinAngle, DiagonalControlPointsTurnLinearly) {
    ScopedLook o({{"spin_timing", "0,1,0"}, {"spin_ease", "0.3333333333333333,0.3333333333333333"}});
    for (double u : {0.01, 0.1, 0.37, 0.5, 0.8, 0.999}) EXPECT_NEAR(spinAngle(u), 360 * u, 1e-9) << u;
}

// An ease whose two numbers differ: the curve's x takes the first, its y the second.
// With (0.45, 0) the turn starts slowly; at the curve parameter s = 1/4, x = 0.2828125
// and y = 0.15625, so a quarter of the way in time is well under a quarter turn, and the
// last quarter mirrors the first. Swapped numbers would turn fast at first instead.
TEST(SpinAngle, AsymmetricEaseStartsSlowly) {
    ScopedLook o({{"spin_timing", "0,1,0"}, {"spin_ease", "0.45,0.0"}});
    EXPECT_NEAR(spinAngle(0.2828125), 360 * 0.15625, 1e-9);
    EXPECT_NEAR(spinAngle(1 - 0.2828125), 360 * (1 - 0.15625), 1e-9);
    EXPECT_LT(spinAngle(0.25), 50);
    EXPECT_GT(spinAngle(0.75), 310);
}

TEST(SpinAngle, ZeroLengthTurnJumps) {
    ScopedLook o({{"spin_timing", "1,0,1"}});
    EXPECT_EQ(spinAngle(1), 0);
    EXPECT_EQ(spinAngle(std::nextafter(1.0, 2.0)), 360);
    EXPECT_FALSE(spinTurning(1));
    EXPECT_FALSE(spinTurning(1.5));
}

TEST(HandoffWeight, RampsFromRestToFull) {
    ScopedLook o({{"spin_handoff", "8"}});
    EXPECT_EQ(handoffWeight(0), 0);
    EXPECT_EQ(handoffWeight(360), 0);
    EXPECT_DOUBLE_EQ(handoffWeight(4), 0.5);
    EXPECT_DOUBLE_EQ(handoffWeight(356), 0.5);
    EXPECT_EQ(handoffWeight(8), 1);
    EXPECT_EQ(handoffWeight(180), 1);
    EXPECT_GT(handoffWeight(0.01), 0);
    EXPECT_LT(handoffWeight(0.01), 1e-5);
}

// Zero width: a hard cut (not 0/0). Below zero the ramp's formula never leaves 0: the
// flat frame throughout, and no slot of a clip reaches the 3-D renderer.
TEST(HandoffWeight, ZeroAndNegativeWidths) {
    {
        ScopedLook o({{"spin_handoff", "0"}});
        EXPECT_EQ(handoffWeight(0), 0);
        EXPECT_EQ(handoffWeight(360), 0);
        EXPECT_EQ(handoffWeight(0.001), 1);
        EXPECT_EQ(handoffWeight(359.999), 1);
    }
    ScopedLook o({{"spin_handoff", "-5"}});
    for (double deg : {0.0, 0.001, 2.5, 5.0, 90.0, 180.0, 359.999, 360.0}) EXPECT_EQ(handoffWeight(deg), 0) << deg;
    for (int64_t slot = 0; slot < stillClipSlots(); ++slot) ASSERT_FALSE(shownAt(slot).rendered()) << slot;
}

TEST(SpinMotion, TravelsFromCloseupToCentre) {
    SpinMotion m;
    m.geo = geometry(2160, 2160, 1179, 2556);
    m.from = layoutGeo(Layout::closeup, 2160, 2160, 1179, 2556);
    m.centre = {m.geo.body.x + m.geo.body.w / 2, m.geo.body.y + m.geo.body.h / 2};
    const Placement a = m.placement(0), b = m.placement(360), mid = m.placement(180);
    EXPECT_NEAR(a.zoom, m.from->body.w / m.geo.body.w, 1e-12);
    EXPECT_GT(a.zoom, 1);
    EXPECT_NEAR(a.centre.x, m.from->body.x + m.from->body.w / 2, 1e-9);
    EXPECT_NEAR(a.centre.y, m.from->body.y + m.from->body.h / 2, 1e-9);
    EXPECT_EQ(b.zoom, 1);
    EXPECT_EQ(b.centre, m.centre);
    EXPECT_DOUBLE_EQ(m.travel(180), 0.5);
    EXPECT_NEAR(mid.zoom, (a.zoom + 1) / 2, 1e-12);
    EXPECT_EQ(m.travel(-1), 0);
    EXPECT_EQ(m.travel(720), 1);
}
