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

// Full layout, device centred. W x H is the frame, a x b the upright content.
Geo geometry(int W, int H, double a, double b);
// The device with a given body rectangle; the scale comes from its width.
Geo geoFrom(const Rect& body, double a, int W, int H);
// The full layout, or the cut-off close-up for the close-up layouts.
Geo layoutGeo(Layout layout, int W, int H, double a, double b);
