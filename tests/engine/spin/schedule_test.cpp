#include <gtest/gtest.h>

#include "look/look.h"
#include "support/support.h"
#include "spin/schedule.h"

// The clip's timeline slot by slot, with the turn from 1 s (slot 60) to 2.5 s (slot 150)
// and an 8-degree hand-off ramp at both ends.
TEST(Schedule, SlotBySlot) {
    ScopedLook o({{"spin_timing", "1,1.5,1"}, {"spin_ease", "0.45,0.0"}, {"spin_handoff", "8"}});
    using P = Shown::Phase;
    struct Row {
        int64_t slot;
        P phase;
        bool rendered, before;
        double minWeight, maxWeight;
    } rows[] = {
        {0, P::RestBefore, false, true, 0, 0},
        {60, P::RestBefore, false, true, 0, 0},          // t = 1 exactly: still at rest
        {61, P::Turning, false, true, 1e-9, 1 / 512.0},  // the ramp's first step: too faint to draw
        {62, P::Turning, true, true, 1 / 512.0, 0.5},    // inside the ramp: mostly the flat frame
        {90, P::Turning, true, true, 1, 1},
        {104, P::Turning, true, true, 1, 1},  // just before the turn's midpoint (slot 105)
        {106, P::Turning, true, false, 1, 1},
        {148, P::Turning, true, false, 1 / 512.0, 0.5},
        {149, P::Turning, false, false, 1e-9, 1 / 512.0},
        {150, P::RestAfter, false, false, 0, 0},
        {209, P::RestAfter, false, false, 0, 0},
        {100000, P::RestAfter, false, false, 0, 0},
    };
    for (const Row& r : rows) {
        const Shown s = shownAt(r.slot);
        EXPECT_EQ(s.phase, r.phase) << r.slot;
        EXPECT_EQ(s.rendered(), r.rendered) << r.slot;
        EXPECT_EQ(s.before(), r.before) << r.slot;
        EXPECT_EQ(s.moving(), r.phase == P::Turning) << r.slot;
        EXPECT_GE(s.weight, r.minWeight) << r.slot;
        EXPECT_LE(s.weight, r.maxWeight) << r.slot;
        EXPECT_EQ(s.deg, spinAngle(double(r.slot) / spinFPS)) << r.slot;
    }
    // A still's clip: 210 frames.
    EXPECT_EQ(stillClipSlots(), 210);
    EXPECT_EQ(leastTurningSlots(), 210);
}

// A still's clip truncates its length; a recording's turning output rounds it, so that
// the turn and both rests are always over.
TEST(Schedule, ClipLengths) {
    ScopedLook o({{"spin_timing", "0.1,0.2,0.1091"}});  // 24.546 slots
    EXPECT_EQ(stillClipSlots(), 24);
    EXPECT_EQ(leastTurningSlots(), 25);
}
