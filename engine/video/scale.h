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

// One plane brought to a destination rectangle, up to 16 rows at a time: a vertical
// pass over the source columns the rows need, then a horizontal one, in fixed point.
class PlaneScaler {
public:
    static constexpr int block = 16;

    PlaneScaler() = default;
    // x's taps come in fours, y's in pairs.
    PlaneScaler(int srcH, Taps x, Taps y);

    // Destination rows r0 .. r0 + n - 1 (n <= block, within y's samples), columns x.d0
    // onwards: the first of n rows of x.n bytes, rowStride() apart, valid until the next
    // call.
    const uint8_t* rows(const uint8_t* src, ptrdiff_t stride, int r0, int n);
    size_t rowStride() const { return m_outStride; }

    const Taps& x() const { return m_x; }
    const Taps& y() const { return m_y; }

private:
    void vertical(const uint8_t* src, ptrdiff_t stride, int r, int16_t* mid);
    void verticalBlock(const uint8_t* src, ptrdiff_t stride, int r0, int n);

    int m_srcH = 0;
    Taps m_x, m_y;
    size_t m_midStride = 0, m_outStride = 0;
    std::vector<int16_t> m_mid, m_midT;     // vertical sums (64 per level) of a block's rows, and transposed
    std::vector<uint8_t> m_columns, m_out;  // the block by destination sample, and by row
    std::vector<const uint8_t*> m_rows;
    std::vector<int32_t> m_pairs, m_xPairs;  // y's and x's weights, two to a word
    int m_stepWords = 1;                     // words of a mask of the vertical pass's steps
    std::vector<uint64_t> m_agree;        // per source row: the vertical steps over which it agrees with the row above
    const uint8_t* m_agreeSrc = nullptr;  // the picture m_agree is of, its rows up to m_agreeEnd,
    ptrdiff_t m_agreeStride = 0;          // last asked for from block m_agreeR0
    int m_agreeEnd = 0, m_agreeR0 = 0;
    std::vector<uint64_t> m_equal;  // per column of the transposed block: whether the next equals it
};
