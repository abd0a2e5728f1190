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
    // Destination rows [top, top + dst.h) only, counted from the top, the same pixels as
    // run gives there; for callers that draw band by band. `scratch` is the caller's.
    void rows(const View8& src, View8 dst, int top, std::vector<float>& scratch) const;
    // Pixels [x0, x1) of one destination row (counted from the top) of a plane, for
    // callers that stream. Returns false, leaving `out` untouched, when the row is all zero.
    bool row(const Plane& src, int dstTop, float* out, std::vector<float>& scratch, int x0, int x1) const;

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
    void across(const uint8_t* src, float* out) const;
    void down(int i, const float* mid, int midFirst, Px8* out) const;

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
// The mean of a 2 x 2 block of samples.
inline float average4(float p, float q, float r, float s) { return (p + q + r + s) * 0.25f; }
inline PxF average4(const PxF& p, const PxF& q, const PxF& r, const PxF& s) {
    return {average4(p.r, q.r, r.r, s.r), average4(p.g, q.g, r.g, s.g), average4(p.b, q.b, r.b, s.b),
            average4(p.a, q.a, r.a, s.a)};
}
// Resolves two supersampled rows (2w samples each) into one row of w by averaging each
// 2 x 2 block: plate colours and glass alpha alike.
template <class T> void resolveRows(const T* a, const T* b, T* out, int w) {
    for (int x = 0; x < w; ++x) out[x] = average4(a[2 * x], a[2 * x + 1], b[2 * x], b[2 * x + 1]);
}
