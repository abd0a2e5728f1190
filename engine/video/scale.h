#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Lanczos-3 weights along one axis of one 8-bit plane, for an exact mapping: the centre
// of destination sample i lies at source coordinate (i + 0.5 - origin) * ratio, where
// origin is the destination coordinate of the source's first edge and ratio counts
// source samples per destination sample. Destination and source may thus start anywhere
// relative to each other, also between samples. Taps beyond the source fold onto its
// edge sample, and downscaling widens the kernel so that it also filters, as the still
// pictures' resampler does.
struct Taps {
    int d0 = 0, n = 0;            // destination samples d0 .. d0 + n - 1
    int count = 0;                // taps per destination sample, zero-padded
    std::vector<int> first;       // first source sample read, per destination sample
    std::vector<int16_t> weight;  // count per destination sample, in 1/16384, summing to 16384
    int lo = 0, hi = 0;           // the source samples any destination sample reads: [lo, hi)
};
// Destination samples d0 .. d1 - 1 of a source of srcSize samples; count is a multiple
// of `multiple`.
Taps lanczosTaps(int srcSize, double origin, double ratio, int d0, int d1, int multiple);

// One plane brought to a destination rectangle, a row at a time: a vertical pass over
// the source columns the row needs, then a horizontal one, in fixed point.
class PlaneScaler {
public:
    PlaneScaler() = default;
    PlaneScaler(int srcH, Taps x, Taps y);

    // Destination row r (y.d0 <= r < y.d0 + y.n), columns x.d0 onwards, into out.
    void row(const uint8_t* src, ptrdiff_t stride, int r, uint8_t* out);

    const Taps& x() const { return m_x; }
    const Taps& y() const { return m_y; }

private:
    int m_srcH = 0;
    Taps m_x, m_y;
    std::vector<int16_t> m_mid;  // the vertically filtered source row, 64 per level, padded
    std::vector<const uint8_t*> m_rows;
};
