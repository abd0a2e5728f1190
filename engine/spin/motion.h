#pragma once
#include <optional>

#include "flat/geometry.h"
#include "spin/vec.h"

// The clock of the turn. Every function reads the look's spin_timing, spin_ease and
// spin_handoff; none keeps state, so the same time always gives the same angle.

// Clip time in seconds to the device angle in degrees, 0 to 360.
double spinAngle(double t);
// True exactly while the device is between its two rests.
bool spinTurning(double t);
// Weight of the 3-D render against the flat frame at an angle: 0 at rest, 1 once the
// device is spin_handoff degrees away from the nearer rest; 0 throughout for a negative
// spin_handoff.
double handoffWeight(double deg);
// The flat frame shown at rest: the one before the turn below 180 degrees.
inline bool restBefore(double deg) { return deg < 180; }

struct Placement {
    Vec2 centre;      // device centre, canvas pixels, y up
    double zoom = 1;  // 1 = the centred full-layout shot
};

// Where the device is while it turns. Without a close-up start it turns in place;
// with one it travels from the close-up framing to the centred one as it turns.
struct SpinMotion {
    Vec2 centre;              // body centre of the full layout
    Geo geo;                  // full layout
    std::optional<Geo> from;  // close-up layout, when the clip starts there

    // Eased fraction of the way travelled, 0 to 1.
    double travel(double deg) const;
    Placement placement(double deg) const;
};
