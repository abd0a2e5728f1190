#pragma once
#include <cstdint>

#include "spin/motion.h"

// The timeline of a turning clip, slot by slot at spinFPS: the one owner of which slots
// rest, which turn and how each is drawn. The spin command, the frame command's
// turning-device outputs and the benchmark all follow it. (Which recording frame a slot
// shows is the frame command's time grid, the same for every output: the latest one
// whose time has come.)

struct Shown {
    enum class Phase { RestBefore, Turning, RestAfter };
    Phase phase = Phase::RestBefore;
    double deg = 0;     // device angle: 0 before the turn, 360 after it
    double weight = 0;  // hand-off weight of deg

    // Drawn by the 3-D renderer, mixed with the flat frame by the weight; otherwise the
    // flat frame alone. Below a weight of 1/512 the mix moves no pixel by half a level:
    // it would round to the flat frame, so the render is skipped.
    bool rendered() const { return weight * 512 > 1; }
    // The flat frame under the slot is the one before the turn (the close-up one when
    // the clip starts there).
    bool before() const { return restBefore(deg); }
    // The picture changes from slot to slot even while the screen content holds still.
    bool moving() const { return phase == Phase::Turning; }
};

// What slot `slot` (at spinFPS, from the start of the clip) shows.
Shown shownAt(int64_t slot);

// Slots of a clip made from a still: both rests and the turn, truncated.
int64_t stillClipSlots();
// Slots a turning output of a recording lasts at least, so that it never stops before the
// turn and both rests are over (rounded half away from zero).
int64_t leastTurningSlots();
