#pragma once
#include <string>

#include "base/opts.h"
#include "flat/surface.h"

// Where the device sits in a frame.
struct Geo {
    Rect screen;
    double screenR = 0;
    Rect body;
    double bodyR = 0;  // screenR plus the bezel width
    double sig = 0;    // blur unit of the ground shadows
    double shdy = 0;   // drop unit of the ground shadows
};

// The rows of a frame a caption leaves to the device: [y, y + h) from the bottom. An
// empty room is the whole frame.
struct Room {
    double y = 0, h = 0;
    bool whole() const { return h <= 0; }
    double maxY() const { return y + h; }
    Room scaled(double k) const { return {y * k, h * k}; }
};

// Full layout, device centred. W x H is the frame, a x b the upright content.
Geo geometry(int W, int H, double a, double b);
// The device with a given body rectangle; the scale comes from its width.
Geo geoFrom(const Rect& body, double a, int W, int H);
// The full layout, or the cut-off close-up for the close-up layouts.
Geo layoutGeo(Layout layout, int W, int H, double a, double b);
// The same within a room: the full layout centred in it, the close-up hanging from its top.
Geo layoutGeo(Layout layout, int W, int H, double a, double b, const Room& room);
