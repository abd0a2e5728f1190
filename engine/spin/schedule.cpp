#include "spin/schedule.h"

#include <cmath>

#include "look/look.h"

Shown shownAt(int64_t slot) {
    Shown s;
    s.deg = spinAngle(double(slot) / spinFPS);
    s.weight = handoffWeight(s.deg);
    s.phase = s.deg <= 0 ? Shown::Phase::RestBefore : s.deg >= 360 ? Shown::Phase::RestAfter : Shown::Phase::Turning;
    return s;
}

int64_t stillClipSlots() { return int64_t(spinSeconds() * spinFPS); }

int64_t leastTurningSlots() { return std::llround(spinSeconds() * spinFPS); }
