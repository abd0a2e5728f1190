#pragma once
#include <optional>

#include "flat/surface.h"

struct Source;

// The camera cut-out of a phone screen, widened and carrying a red dot while the phone
// records itself. Found once in the first frame, then tidied in every frame.
// Rectangles are in the frame's bottom-up pixel coordinates; probes are (x, top row).
struct Island {
    Rect wipe;     // the detected pill grown on every side: painted with the bar colour
    Rect pill;     // an ordinary pill, centred: drawn black over the wipe
    Rect dotless;  // exactly the detected pill: drawn black when the bar is not flat
    int probeLX = 0, probeRX = 0, probeY = 0;

    // The widened pill with its recording dot in the top 8 % of a frame in stored
    // orientation, or nothing.
    static std::optional<Island> detect(const View8& frame);
    // Tidies the frame in place: the bar colour over the wipe and a plain pill when the
    // bar left and right of the pill is one flat colour, else a black pill over the dot.
    void apply(View8 frame) const;
};

// What every frame of one recording goes through before compositing.
struct FramePrep {
    int orient = 1;
    std::optional<Island> island;

    // Looks for the island only in recordings stored upright.
    static FramePrep make(const Source& source, const View8& first);
    // Island tidying, then orientation, then grey neutralisation.
    Image8 operator()(Image8 frame) const;
};
