#include "video/scale.h"

#include <algorithm>
#include <cmath>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

double lanczos3(double x) {
    x = std::abs(x);
    if (x < 1e-9) return 1;
    if (x >= 3) return 0;
    const double px = M_PI * x;
    return 3 * std::sin(px) * std::sin(px / 3) / (px * px);
}

// Sums of taps are rounded once per pass: the vertical pass keeps 6 fractional bits
// (64 per level), the horizontal one drops all 20.
constexpr int weightBits = 14, midShift = 8, outShift = 2 * weightBits - midShift;

// mid[j] = the weighted sum of the rows at source column lo + j, for j < hi - lo.
void vertical(const uint8_t* const* rows, const int16_t* w, int count, int lo, int hi, int16_t* mid) {
    int x = lo;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128(), round = _mm_set1_epi32(1 << (midShift - 1));
    for (; x + 16 <= hi; x += 16) {
        __m128i acc[4] = {zero, zero, zero, zero};
        for (int k = 0; k < count; k += 2) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k + 1] + x));
            const __m128i pair = _mm_set1_epi32(int(uint16_t(w[k])) | (int(w[k + 1]) << 16));
            const __m128i alo = _mm_unpacklo_epi8(a, zero), ahi = _mm_unpackhi_epi8(a, zero);
            const __m128i blo = _mm_unpacklo_epi8(b, zero), bhi = _mm_unpackhi_epi8(b, zero);
            acc[0] = _mm_add_epi32(acc[0], _mm_madd_epi16(_mm_unpacklo_epi16(alo, blo), pair));
            acc[1] = _mm_add_epi32(acc[1], _mm_madd_epi16(_mm_unpackhi_epi16(alo, blo), pair));
            acc[2] = _mm_add_epi32(acc[2], _mm_madd_epi16(_mm_unpacklo_epi16(ahi, bhi), pair));
            acc[3] = _mm_add_epi32(acc[3], _mm_madd_epi16(_mm_unpackhi_epi16(ahi, bhi), pair));
        }
        for (__m128i& a : acc) a = _mm_srai_epi32(_mm_add_epi32(a, round), midShift);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(mid + (x - lo)), _mm_packs_epi32(acc[0], acc[1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(mid + (x - lo) + 8), _mm_packs_epi32(acc[2], acc[3]));
    }
#endif
    for (; x < hi; ++x) {
        int acc = 0;
        for (int k = 0; k < count; ++k) acc += w[k] * rows[k][x];
        mid[x - lo] = int16_t(std::clamp((acc + (1 << (midShift - 1))) >> midShift, -32768, 32767));
    }
}

inline uint8_t level(int sum) { return uint8_t(std::clamp((sum + (1 << (outShift - 1))) >> outShift, 0, 255)); }

// out[i] = the weighted sum of mid from first[i] - lo, for the n destination samples.
void horizontal(const int16_t* mid, const Taps& t, uint8_t* out) {
    const int count = t.count;
    int i = 0;
#ifdef __SSE2__
    const __m128i round = _mm_set1_epi32(1 << (outShift - 1));
    for (; i + 4 <= t.n; i += 4) {
        __m128i s[4];
        for (int j = 0; j < 4; ++j) {
            const int16_t* p = mid + (t.first[size_t(i + j)] - t.lo);
            const int16_t* w = t.weight.data() + size_t(i + j) * size_t(count);
            __m128i acc = _mm_setzero_si128();
            for (int k = 0; k < count; k += 8)
                acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k)),
                                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + k))));
            s[j] = acc;
        }
        // Four horizontal sums at once.
        const __m128i a = _mm_add_epi32(_mm_unpacklo_epi32(s[0], s[1]), _mm_unpackhi_epi32(s[0], s[1]));
        const __m128i b = _mm_add_epi32(_mm_unpacklo_epi32(s[2], s[3]), _mm_unpackhi_epi32(s[2], s[3]));
        __m128i sum = _mm_add_epi32(_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b));
        sum = _mm_srai_epi32(_mm_add_epi32(sum, round), outShift);
        sum = _mm_packs_epi32(sum, sum);
        const int four = _mm_cvtsi128_si32(_mm_packus_epi16(sum, sum));
        std::copy_n(reinterpret_cast<const uint8_t*>(&four), 4, out + i);
    }
#endif
    for (; i < t.n; ++i) {
        const int16_t* p = mid + (t.first[size_t(i)] - t.lo);
        const int16_t* w = t.weight.data() + size_t(i) * size_t(count);
        int acc = 0;
        for (int k = 0; k < count; ++k) acc += w[k] * p[k];
        out[i] = level(acc);
    }
}

}  // namespace

Taps lanczosTaps(int srcSize, double origin, double ratio, int d0, int d1, int multiple) {
    Taps t;
    t.d0 = d0;
    t.n = std::max(d1 - d0, 0);
    const double stretch = std::min(1 / ratio, 1.0), support = 3 / stretch;
    std::vector<std::pair<int, std::vector<double>>> taps(size_t(t.n));
    int count = 1;
    t.lo = srcSize;
    for (int i = 0; i < t.n; ++i) {
        const double centre = (d0 + i + 0.5 - origin) * ratio - 0.5;
        const int lo = int(std::floor(centre - support)) + 1, hi = int(std::floor(centre + support));
        const int first = std::clamp(lo, 0, srcSize - 1), last = std::clamp(hi, 0, srcSize - 1);
        std::vector<double> w(size_t(last - first + 1), 0.0);
        double sum = 0;
        for (int j = lo; j <= hi; ++j) {
            const double v = lanczos3((j - centre) * stretch);
            w[size_t(std::clamp(j, 0, srcSize - 1) - first)] += v;
            sum += v;
        }
        for (double& v : w) v /= sum;
        count = std::max(count, int(w.size()));
        t.lo = std::min(t.lo, first);
        t.hi = std::max(t.hi, last + 1);
        taps[size_t(i)] = {first, std::move(w)};
    }
    t.count = (count + multiple - 1) / multiple * multiple;
    t.first.resize(size_t(t.n));
    t.weight.assign(size_t(t.n) * size_t(t.count), 0);
    for (int i = 0; i < t.n; ++i) {
        const auto& [first, w] = taps[size_t(i)];
        int16_t* out = t.weight.data() + size_t(i) * size_t(t.count);
        int sum = 0;
        size_t biggest = 0;
        for (size_t k = 0; k < w.size(); ++k) {
            out[k] = int16_t(std::lround(w[k] * (1 << weightBits)));
            sum += out[k];
            if (std::abs(w[k]) > std::abs(w[biggest])) biggest = k;
        }
        // The rounding's remainder goes to the largest weight: flat areas stay exact.
        out[biggest] = int16_t(out[biggest] + (1 << weightBits) - sum);
        t.first[size_t(i)] = first;
    }
    if (t.n == 0) t.lo = t.hi = 0;
    return t;
}

PlaneScaler::PlaneScaler(int srcH, Taps x, Taps y) : m_srcH(srcH), m_x(std::move(x)), m_y(std::move(y)) {
    // Room for the padded taps of the last samples, which read zeros.
    m_mid.assign(size_t(m_x.hi - m_x.lo + m_x.count + 16), 0);
    m_rows.resize(size_t(m_y.count));
}

void PlaneScaler::row(const uint8_t* src, ptrdiff_t stride, int r, uint8_t* out) {
    const size_t i = size_t(r - m_y.d0);
    // Padded taps have no weight; any row will do for them.
    for (size_t k = 0; k < m_rows.size(); ++k)
        m_rows[k] = src + ptrdiff_t(std::min(m_y.first[i] + int(k), m_srcH - 1)) * stride;
    vertical(m_rows.data(), m_y.weight.data() + i * m_rows.size(), m_y.count, m_x.lo, m_x.hi, m_mid.data());
    horizontal(m_mid.data(), m_x, out);
}
