#pragma once
#include <memory>
#include <vector>

#include "flat/surface.h"

// Lanczos-3 resampling with clamped edges, separable, weights computed once per pair
// of sizes. Video outputs keep one scale for the whole run, so the weights are cached.
class Lanczos {
public:
    Lanczos(int srcW, int srcH, int dstW, int dstH);
    // Shared, cached instance for a pair of sizes; safe from any thread.
    static std::shared_ptr<const Lanczos> forSizes(int srcW, int srcH, int dstW, int dstH);

    void run(const View8& src, View8 dst) const;
    void run(const Plane& src, Plane& dst) const;
    void run(const SurfaceF& src, SurfaceF& dst) const;
    // One destination row (counted from the top) of a plane, for callers that stream.
    // Returns false, leaving `out` untouched, when the row is all zero.
    bool row(const Plane& src, int dstTop, float* out, std::vector<float>& scratch) const;

    int srcW() const { return m_sw; }
    int srcH() const { return m_sh; }
    int dstW() const { return m_dw; }
    int dstH() const { return m_dh; }

    struct Taps {
        std::vector<int> first;     // first source index per destination index
        std::vector<int> count;     // taps per destination index
        std::vector<float> weight;  // count[i] weights from offset[i]
        std::vector<int> offset;
    };

private:
    int m_sw, m_sh, m_dw, m_dh;
    Taps m_x, m_y;
};

// The Lanczos-3 weights of one destination sample centred at source coordinate centre
// (in samples from the first sample's centre), the kernel widened by 1 / stretch for
// downscaling; taps beyond the source fold onto its edge samples. Fills w (summing to 1)
// and returns the source index of w[0].
int lanczosWeights(int srcSize, double centre, double stretch, std::vector<double>& w);

Image8 resample(const View8& src, int w, int h);
// Redraws at w x h with high-quality interpolation.
SurfaceF downscale(const SurfaceF& src, int w, int h);
// Resolves two supersampled rows (2w pixels each) into one row of w by averaging
// each 2 x 2 block.
void resolveRows(const PxF* a, const PxF* b, PxF* out, int w);
