#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

#include "flat/surface.h"

// Draws rows [top, top + band.h) of the picture, counted from its top row, into `band`.
// Called on several threads at once, each time with a band of its own.
using DrawBand = std::function<void(View8 band, int top)>;
// Receives the encoded file piece by piece, in order, from one thread at a time.
using ByteSink = std::function<void(const uint8_t* bytes, size_t size)>;

// RGB for a picture known to be opaque; otherwise RGBA with the premultiplication undone.
enum class PngAlpha { opaque, kept };

// Writes the picture as a PNG (sub filter, zlib level 1) while it is being drawn. Bands
// are drawn, filtered and deflated on every core as independent strips, each ended with
// a sync flush so that the strips join into one zlib stream; the Adler-32 sums of the
// strips are combined. Each strip goes to the sink as soon as those before it have.
void encodePNG(int w, int h, PngAlpha alpha, const DrawBand& draw, const ByteSink& sink);

// The rows per band for a picture `w` pixels wide: a band stays in the core's cache
// while it is filtered and compressed.
int pngBandRows(int w);
