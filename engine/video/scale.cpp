#include "video/scale.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "flat/raster.h"
#include "flat/resample.h"

#ifdef __SSE2__
#include <immintrin.h>
#endif

namespace {

// Sums of taps are rounded once per pass: the vertical pass keeps 6 fractional bits
// (64 per level), the horizontal one drops all 20.
constexpr int weightBits = 14, midShift = 8, outShift = 2 * weightBits - midShift;

// The 256-bit vertical pass's steps over columns [lo, hi): 32 columns each, the last one
// moved back to end at hi; none under 32 columns. Bit j of a step mask is step j.
inline int stepCount(int lo, int hi) { return hi - lo >= 32 ? (hi - lo + 31) / 32 : 0; }
inline int stepAt(int lo, int hi, int j) { return std::min(lo + 32 * j, hi - 32); }

// mid[j] = the weighted sum of the rows at source column lo + j, for j < hi - lo; the
// weights come in pairs, one 32-bit word per two rows.
void verticalScalar(const uint8_t* const* rows, const int32_t* pairs, int count, int x, int hi, int lo, int16_t* mid) {
    for (; x < hi; ++x) {
        int acc = 0;
        for (int k = 0; k < count; k += 2)
            acc += int16_t(pairs[k / 2] & 0xffff) * rows[k][x] + int16_t(pairs[k / 2] >> 16) * rows[k + 1][x];
        mid[x - lo] = int16_t(std::clamp((acc + (1 << (midShift - 1))) >> midShift, -32768, 32767));
    }
}

inline uint8_t level(int sum) { return uint8_t(std::clamp((sum + (1 << (outShift - 1))) >> outShift, 0, 255)); }

// out[i] = the weighted sum of mid from first[i] - lo, for destination samples i on.
void horizontalScalar(const int16_t* mid, const Taps& t, int i, uint8_t* out) {
    for (; i < t.n; ++i) {
        const int16_t* p = mid + (t.first[size_t(i)] - t.lo);
        const int16_t* w = t.weight.data() + size_t(i) * size_t(t.count);
        int acc = 0;
        for (int k = 0; k < t.count; ++k) acc += w[k] * p[k];
        out[i] = level(acc);
    }
}

#ifdef __SSE2__
void verticalSSE2(const uint8_t* const* rows, const int32_t* pairs, int count, int lo, int hi, int16_t* mid) {
    const __m128i zero = _mm_setzero_si128(), round = _mm_set1_epi32(1 << (midShift - 1));
    int x = lo;
    for (; x < hi && hi - lo >= 16; x += 16) {
        // The last step overlaps the one before rather than leave columns to scalar code.
        x = std::min(x, hi - 16);
        __m128i acc[4] = {zero, zero, zero, zero};
        for (int k = 0; k < count; k += 2) {
            // Two rows interleaved, as 16-bit pairs against the pair of weights.
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k + 1] + x));
            const __m128i pair = _mm_set1_epi32(pairs[k / 2]);
            const __m128i lo8 = _mm_unpacklo_epi8(a, b), hi8 = _mm_unpackhi_epi8(a, b);
            acc[0] = _mm_add_epi32(acc[0], _mm_madd_epi16(_mm_unpacklo_epi8(lo8, zero), pair));
            acc[1] = _mm_add_epi32(acc[1], _mm_madd_epi16(_mm_unpackhi_epi8(lo8, zero), pair));
            acc[2] = _mm_add_epi32(acc[2], _mm_madd_epi16(_mm_unpacklo_epi8(hi8, zero), pair));
            acc[3] = _mm_add_epi32(acc[3], _mm_madd_epi16(_mm_unpackhi_epi8(hi8, zero), pair));
        }
        for (__m128i& a : acc) a = _mm_srai_epi32(_mm_add_epi32(a, round), midShift);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(mid + (x - lo)), _mm_packs_epi32(acc[0], acc[1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(mid + (x - lo) + 8), _mm_packs_epi32(acc[2], acc[3]));
    }
    verticalScalar(rows, pairs, count, x, hi, lo, mid);
}

void horizontalSSE2(const int16_t* mid, const Taps& t, uint8_t* out) {
    const int count = t.count;
    const __m128i round = _mm_set1_epi32(1 << (outShift - 1));
    int i = 0;
    for (; i + 4 <= t.n; i += 4) {
        __m128i s[4];
        for (int j = 0; j < 4; ++j) {
            const int16_t* p = mid + (t.first[size_t(i + j)] - t.lo);
            const int16_t* w = t.weight.data() + size_t(i + j) * size_t(count);
            __m128i acc = _mm_setzero_si128();
            int k = 0;
            for (; k + 8 <= count; k += 8)
                acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k)),
                                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + k))));
            if (k < count)  // four more
                acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + k)),
                                                        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(w + k))));
            s[j] = acc;
        }
        // Four horizontal sums at once.
        const __m128i a = _mm_add_epi32(_mm_unpacklo_epi32(s[0], s[1]), _mm_unpackhi_epi32(s[0], s[1]));
        const __m128i b = _mm_add_epi32(_mm_unpacklo_epi32(s[2], s[3]), _mm_unpackhi_epi32(s[2], s[3]));
        __m128i sum = _mm_add_epi32(_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b));
        sum = _mm_srai_epi32(_mm_add_epi32(sum, round), outShift);
        sum = _mm_packs_epi32(sum, sum);
        const int four = _mm_cvtsi128_si32(_mm_packus_epi16(sum, sum));
        std::memcpy(out + i, &four, 4);
    }
    horizontalScalar(mid, t, i, out);
}

// The same with 256-bit registers, where the processor has them: twice the columns per
// step, and taps up to 16 in one multiply.
// Where the rows agree over a step's columns (bit j of `same` for step j), the weights'
// sum of 16384 makes each sum the sample times 64: flat parts of a screen cost a copy.
__attribute__((target("avx2"))) void verticalAVX2(const uint8_t* const* rows, const int32_t* pairs, int count, int lo,
                                                  int hi, const uint64_t* same, int16_t* mid) {
    const __m256i zero = _mm256_setzero_si256(), round = _mm256_set1_epi32(1 << (midShift - 1));
    const int steps = stepCount(lo, hi);
    for (int j = 0; j < steps; ++j) {
        const int x = stepAt(lo, hi, j);
        if (same[j / 64] >> (j % 64) & 1) {
            for (int h = 0; h < 32; h += 16) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[0] + x + h));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(mid + (x - lo) + h),
                                    _mm256_slli_epi16(_mm256_cvtepu8_epi16(a), weightBits - midShift));
            }
            continue;
        }
        __m256i acc[4] = {zero, zero, zero, zero};
        for (int k = 0; k < count; k += 2) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k] + x));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k + 1] + x));
            const __m256i pair = _mm256_set1_epi32(pairs[k / 2]);
            const __m256i lo8 = _mm256_unpacklo_epi8(a, b), hi8 = _mm256_unpackhi_epi8(a, b);
            acc[0] = _mm256_add_epi32(acc[0], _mm256_madd_epi16(_mm256_unpacklo_epi8(lo8, zero), pair));
            acc[1] = _mm256_add_epi32(acc[1], _mm256_madd_epi16(_mm256_unpackhi_epi8(lo8, zero), pair));
            acc[2] = _mm256_add_epi32(acc[2], _mm256_madd_epi16(_mm256_unpacklo_epi8(hi8, zero), pair));
            acc[3] = _mm256_add_epi32(acc[3], _mm256_madd_epi16(_mm256_unpackhi_epi8(hi8, zero), pair));
        }
        for (__m256i& a : acc) a = _mm256_srai_epi32(_mm256_add_epi32(a, round), midShift);
        // Unpacking works within 128-bit lanes: columns come out as 0-7 | 16-23 and
        // 8-15 | 24-31.
        const __m256i p01 = _mm256_packs_epi32(acc[0], acc[1]), p23 = _mm256_packs_epi32(acc[2], acc[3]);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(mid + (x - lo)), _mm256_permute2x128_si256(p01, p23, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(mid + (x - lo) + 16), _mm256_permute2x128_si256(p01, p23, 0x31));
    }
    if (steps == 0) verticalSSE2(rows, pairs, count, lo, hi, mid);
}

// Whether bits from .. from + n - 1 are all set, for n < 64; bits has a word to spare.
inline bool allSet(const uint64_t* bits, int from, int n) {
    const int w = from / 64, s = from % 64;
    const uint64_t v = s ? bits[w] >> s | bits[w + 1] << (64 - s) : bits[w];
    const uint64_t mask = (uint64_t(1) << n) - 1;
    return (v & mask) == mask;
}

// The horizontal pass for 16 rows at once: the rows' vertical sums are transposed so
// that one register holds a source column of all 16 rows, and each destination sample
// is then a sum of whole registers, as in the vertical pass; the results are transposed
// back. midT holds the 16 rows transposed, out gets 16 bytes per destination sample.
// Bit c of `equal` says column c equals column c + 1: where a sample's taps all read
// one column, its sum is that column times 16384.
__attribute__((target("avx2"))) void horizontalBlockAVX2(const int16_t* midT, const Taps& t, const int32_t* pairs,
                                                         const uint64_t* equal, uint8_t* out) {
    const __m256i round = _mm256_set1_epi32(1 << (outShift - 1));
    const __m256i flatRound = _mm256_set1_epi16(1 << (outShift - weightBits - 1));
    const int half = t.count / 2;
    for (int i = 0; i < t.n; ++i) {
        const int at = t.first[size_t(i)] - t.lo;
        const int16_t* c = midT + size_t(at) * 16;
        if (t.count <= 64 && allSet(equal, at, t.count - 1)) {
            // Saturating the add only touches sums that clamp to 255 either way.
            const __m256i v =
                _mm256_srai_epi16(_mm256_adds_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c)), flatRound),
                                  outShift - weightBits);
            const __m256i bytes = _mm256_packus_epi16(v, v);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + size_t(i) * 16),
                             _mm256_castsi256_si128(_mm256_permute4x64_epi64(bytes, 8)));
            continue;
        }
        const int32_t* w = pairs + size_t(i) * size_t(half);
        __m256i lo = _mm256_setzero_si256(), hi = lo;
        for (int k = 0; k < half; ++k, c += 32) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + 16));
            const __m256i pair = _mm256_set1_epi32(w[k]);
            lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), pair));  // rows 0-3, 8-11
            hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), pair));  // rows 4-7, 12-15
        }
        lo = _mm256_srai_epi32(_mm256_add_epi32(lo, round), outShift);
        hi = _mm256_srai_epi32(_mm256_add_epi32(hi, round), outShift);
        const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(lo, hi), _mm256_setzero_si256());
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + size_t(i) * 16),
                         _mm256_castsi256_si128(_mm256_permute4x64_epi64(bytes, 8)));
    }
}

// rows[0..7] (8 values each from column x) become 8 columns of 8 rows at out, out + 16...
inline void transpose8x8(const __m128i a[8], int16_t* out) {
    __m128i b[8], c[8];
    for (int k = 0; k < 4; ++k) {
        b[k] = _mm_unpacklo_epi16(a[2 * k], a[2 * k + 1]);
        b[k + 4] = _mm_unpackhi_epi16(a[2 * k], a[2 * k + 1]);
    }
    // b[0..3]: columns 0-3 of row pairs; b[4..7]: columns 4-7.
    for (int h = 0; h < 2; ++h) {
        c[4 * h + 0] = _mm_unpacklo_epi32(b[4 * h + 0], b[4 * h + 1]);
        c[4 * h + 1] = _mm_unpackhi_epi32(b[4 * h + 0], b[4 * h + 1]);
        c[4 * h + 2] = _mm_unpacklo_epi32(b[4 * h + 2], b[4 * h + 3]);
        c[4 * h + 3] = _mm_unpackhi_epi32(b[4 * h + 2], b[4 * h + 3]);
    }
    for (int h = 0; h < 2; ++h)
        for (int q = 0; q < 2; ++q) {
            const int col = 4 * h + 2 * q;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + size_t(col) * 16),
                             _mm_unpacklo_epi64(c[4 * h + q], c[4 * h + q + 2]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + size_t(col + 1) * 16),
                             _mm_unpackhi_epi64(c[4 * h + q], c[4 * h + q + 2]));
        }
}

// 16 rows of `width` values (row stride `stride`) into width columns of 16.
void transposeRows(const int16_t* mid, size_t stride, int width, int16_t* midT) {
    for (int x = 0; x < width; x += 8)
        for (int half = 0; half < 2; ++half) {
            __m128i a[8];
            for (int r = 0; r < 8; ++r)
                a[r] =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(mid + size_t(8 * half + r) * stride + size_t(x)));
            transpose8x8(a, midT + size_t(x) * 16 + size_t(8 * half));
        }
}

// n samples of 16 bytes (one per row) into 16 rows of n bytes, rows `stride` apart;
// n is a multiple of 16.
void transposeBytes(const uint8_t* in, int n, uint8_t* out, size_t stride) {
    for (int x = 0; x < n; x += 16) {
        __m128i a[16], b[16], c[16], d[16];
        for (int k = 0; k < 16; ++k) a[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + size_t(x + k) * 16));
        // a[k] is sample x + k, its 16 rows; the four steps interleave ever wider units.
        for (int r = 0; r < 8; ++r) {
            b[r] = _mm_unpacklo_epi8(a[2 * r], a[2 * r + 1]);
            b[r + 8] = _mm_unpackhi_epi8(a[2 * r], a[2 * r + 1]);
        }
        for (int q = 0; q < 4; ++q) {
            c[q] = _mm_unpacklo_epi16(b[2 * q], b[2 * q + 1]);
            c[q + 4] = _mm_unpackhi_epi16(b[2 * q], b[2 * q + 1]);
            c[q + 8] = _mm_unpacklo_epi16(b[2 * q + 8], b[2 * q + 9]);
            c[q + 12] = _mm_unpackhi_epi16(b[2 * q + 8], b[2 * q + 9]);
        }
        for (int g = 0; g < 4; ++g) {
            d[4 * g + 0] = _mm_unpacklo_epi32(c[4 * g], c[4 * g + 1]);
            d[4 * g + 1] = _mm_unpackhi_epi32(c[4 * g], c[4 * g + 1]);
            d[4 * g + 2] = _mm_unpacklo_epi32(c[4 * g + 2], c[4 * g + 3]);
            d[4 * g + 3] = _mm_unpackhi_epi32(c[4 * g + 2], c[4 * g + 3]);
        }
        for (int g = 0; g < 4; ++g) {
            const __m128i rows[4] = {
                _mm_unpacklo_epi64(d[4 * g + 0], d[4 * g + 2]), _mm_unpackhi_epi64(d[4 * g + 0], d[4 * g + 2]),
                _mm_unpacklo_epi64(d[4 * g + 1], d[4 * g + 3]), _mm_unpackhi_epi64(d[4 * g + 1], d[4 * g + 3])};
            for (int k = 0; k < 4; ++k)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + size_t(4 * g + k) * stride + size_t(x)), rows[k]);
        }
    }
}

#endif

void vertical(const uint8_t* const* rows, const int32_t* pairs, int count, int lo, int hi, int16_t* mid) {
#ifdef __SSE2__
    return verticalSSE2(rows, pairs, count, lo, hi, mid);
#else
    verticalScalar(rows, pairs, count, lo, hi, lo, mid);
#endif
}

void horizontal(const int16_t* mid, const Taps& t, uint8_t* out) {
#ifdef __SSE2__
    horizontalSSE2(mid, t, out);
#else
    horizontalScalar(mid, t, 0, out);
#endif
}

}  // namespace

Taps lanczosTaps(int srcSize, double origin, double ratio, int d0, int d1, int multiple) {
    Taps t;
    t.d0 = d0;
    t.n = std::max(d1 - d0, 0);
    const double stretch = std::min(1 / ratio, 1.0);
    std::vector<std::pair<int, std::vector<double>>> taps(size_t(t.n));
    int count = 1;
    t.lo = srcSize;
    for (int i = 0; i < t.n; ++i) {
        auto& [first, w] = taps[size_t(i)];
        first = lanczosWeights(srcSize, (d0 + i + 0.5 - origin) * ratio - 0.5, stretch, w);
        count = std::max(count, int(w.size()));
        t.lo = std::min(t.lo, first);
        t.hi = std::max(t.hi, first + int(w.size()));
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
    // Room for the padded taps of the last samples, which read zeros, in whole steps of
    // the transposition.
    m_midStride = size_t(m_x.hi - m_x.lo + m_x.count + 16) / 8 * 8;
    m_mid.assign(m_midStride * block, 0);
    m_midT.assign(m_midStride * block, 0);
    m_rows.resize(size_t(m_y.count));
    auto pairs = [](const std::vector<int16_t>& w) {
        std::vector<int32_t> p(w.size() / 2);
        for (size_t k = 0; k < p.size(); ++k)
            p[k] = int32_t(uint32_t(uint16_t(w[2 * k])) | (uint32_t(uint16_t(w[2 * k + 1])) << 16));
        return p;
    };
    m_pairs = pairs(m_y.weight);
    m_xPairs = pairs(m_x.weight);
    m_outStride = size_t(m_x.n + 15) / 16 * 16;
    m_out.assign(m_outStride * block, 0);
    m_columns.assign(m_outStride * block, 0);
    m_stepWords = std::max((stepCount(m_x.lo, m_x.hi) + 63) / 64, 1);
    m_agree.assign(size_t(m_srcH + 1) * size_t(m_stepWords), 0);
    m_equal.assign(m_midStride / 64 + 2, 0);
}

void PlaneScaler::vertical(const uint8_t* src, ptrdiff_t stride, int r, int16_t* mid) {
    const size_t i = size_t(r - m_y.d0);
    // Padded taps have no weight; any row will do for them.
    for (size_t k = 0; k < m_rows.size(); ++k)
        m_rows[k] = src + ptrdiff_t(std::min(m_y.first[i] + int(k), m_srcH - 1)) * stride;
    ::vertical(m_rows.data(), m_pairs.data() + i * m_rows.size() / 2, m_y.count, m_x.lo, m_x.hi, mid);
}

#ifdef __SSE2__
namespace {

// Bit j of out: rows a and b agree over the vertical pass's step j, which starts at
// min(lo + 32 j, hi - 32).
__attribute__((target("avx2"))) void agreeing(const uint8_t* a, const uint8_t* b, int lo, int hi, uint64_t* out,
                                              int words) {
    // Each word is gathered in a register: or-ing into memory step by step would chain
    // every step on the store before it.
    const int steps = stepCount(lo, hi);
    for (int w = 0; w < words; ++w) {
        uint64_t bits = 0;
        for (int j = 64 * w; j < std::min(steps, 64 * w + 64); ++j) {
            const int x = stepAt(lo, hi, j);
            const __m256i eq = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + x)),
                                                 _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + x)));
            bits |= uint64_t(_mm256_movemask_epi8(eq) == -1) << (j % 64);
        }
        out[w] = bits;
    }
}

// Bit c of out: column c of the transposed block equals column c + 1.
__attribute__((target("avx2"))) void equalColumns(const int16_t* midT, int width, uint64_t* out) {
    __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(midT));
    for (int w = 0; w < (width + 63) / 64; ++w) {
        uint64_t bits = 0;
        for (int c = 64 * w; c < std::min(width - 1, 64 * w + 64); ++c) {
            const __m256i here = next;
            next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(midT + (c + 1) * 16));
            bits |= uint64_t(_mm256_movemask_epi8(_mm256_cmpeq_epi16(here, next)) == -1) << (c % 64);
        }
        out[w] = bits;
    }
}

}  // namespace

// Which rows agree with the row above them, each row once per picture, then per
// destination row the steps over which all its source rows agree. A picture's blocks
// come top to bottom: a call for an earlier block, or for other samples, starts afresh.
void PlaneScaler::verticalBlock(const uint8_t* src, ptrdiff_t stride, int r0, int n) {
    const int words = m_stepWords, count = m_y.count;
    auto row = [&](int s) { return src + ptrdiff_t(s) * stride; };
    const int lo = m_y.first[size_t(r0 - m_y.d0)];
    const int hi = std::min(m_y.first[size_t(r0 + n - 1 - m_y.d0)] + count, m_srcH);
    if (src != m_agreeSrc || stride != m_agreeStride || r0 <= m_agreeR0) m_agreeEnd = lo + 1;
    m_agreeSrc = src, m_agreeStride = stride, m_agreeR0 = r0;
    for (int s = std::max(m_agreeEnd, lo + 1); s < hi; ++s)
        agreeing(row(s), row(s - 1), m_x.lo, m_x.hi, m_agree.data() + size_t(s) * size_t(words), words);
    m_agreeEnd = std::max(m_agreeEnd, hi);
    uint64_t* same = m_agree.data() + size_t(m_srcH) * size_t(words);
    for (int j = 0; j < n; ++j) {
        const size_t i = size_t(r0 + j - m_y.d0);
        std::fill(same, same + words, ~uint64_t(0));
        for (int k = 0; k < count; ++k) {
            const int s = std::min(m_y.first[i] + k, m_srcH - 1);
            m_rows[size_t(k)] = row(s);
            if (k > 0 && s != std::min(m_y.first[i] + k - 1, m_srcH - 1))
                for (int w = 0; w < words; ++w) same[w] &= m_agree[size_t(s) * size_t(words) + size_t(w)];
        }
        verticalAVX2(m_rows.data(), m_pairs.data() + i * size_t(count) / 2, count, m_x.lo, m_x.hi, same,
                     m_mid.data() + size_t(j) * m_midStride);
    }
}
#endif

const uint8_t* PlaneScaler::rows(const uint8_t* src, ptrdiff_t stride, int r0, int n) {
#ifdef __SSE2__
    if (wideRegisters()) {
        verticalBlock(src, stride, r0, n);
        transposeRows(m_mid.data(), m_midStride, int(m_midStride), m_midT.data());
        equalColumns(m_midT.data(), int(m_midStride), m_equal.data());
        horizontalBlockAVX2(m_midT.data(), m_x, m_xPairs.data(), m_equal.data(), m_columns.data());
        transposeBytes(m_columns.data(), int(m_outStride), m_out.data(), m_outStride);
        return m_out.data();
    }
#endif
    for (int j = 0; j < n; ++j) {
        vertical(src, stride, r0 + j, m_mid.data());
        horizontal(m_mid.data(), m_x, m_out.data() + size_t(j) * m_outStride);
    }
    return m_out.data();
}
