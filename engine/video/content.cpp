#include "video/content.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#ifdef __SSE2__
#include <immintrin.h>
#endif

#include "base/die.h"
#include "flat/raster.h"
#include "flat/scene.h"
#include "video/island.h"

namespace {

// BT.709 in 1/65536: Y = 16 + 219/255 (Kr R + Kg G + Kb B), Cb and Cr with 224/255;
// each chroma row sums to 0, so greys get exactly 128.
constexpr int yr = 11966, yg = 40254, yb = 4064;    // 219/255 * (0.2126, 0.7152, 0.0722)
constexpr int ur = -6596, ug = -22189, ub = 28785;  // 224/255 * (-0.1146, -0.3854, 0.5)
constexpr int vr = 28784, vg = -26145, vb = -2639;  // 224/255 * (0.5, -0.4542, -0.0458)

inline uint8_t lumaOf(const Px8& p) { return uint8_t(16 + ((yr * p.r + yg * p.g + yb * p.b + 32768) >> 16)); }

// Chroma of a 2 x 2 block from its sums of four: the shift divides by 4 as well; 128 in
// the same units.
inline void chromaOf(int R, int G, int B, uint8_t& u, uint8_t& v) {
    u = uint8_t((ur * R + ug * G + ub * B + (128 << 18) + (1 << 17)) >> 18);
    v = uint8_t((vr * R + vg * G + vb * B + (128 << 18) + (1 << 17)) >> 18);
}

// A decoder's Y'CbCr to R'G'B', in 1/65536 of a level: R' = Y' + rv (V - 128),
// G' = Y' + gu (U - 128) + gv (V - 128), B' = Y' + bu (U - 128), Y' = y (Y - yOffset).
struct FromYUV {
    int y = 0, yOffset = 0, rv = 0, gu = 0, gv = 0, bu = 0;
    bool same = false;  // BT.709 limited already: unchanged samples keep their value

    FromYUV(double kr, double kb, bool full) {
        const double kg = 1 - kr - kb, ys = full ? 1 : 255.0 / 219, cs = full ? 1 : 255.0 / 224;
        auto fixed = [](double v) { return int(std::lround(v * 65536)); };
        y = fixed(ys), yOffset = full ? 0 : 16;
        rv = fixed(2 * (1 - kr) * cs), bu = fixed(2 * (1 - kb) * cs);
        gu = -fixed(2 * kb * (1 - kb) / kg * cs), gv = -fixed(2 * kr * (1 - kr) / kg * cs);
        same = !full && kr == 0.2126 && kb == 0.0722;
    }

    Px8 pixel(int Y, int du, int dv) const {
        const int l = y * (Y - yOffset) + 32768;
        auto c = [&](int v) { return uint8_t(std::clamp(v >> 16, 0, 255)); };
        return {c(l + bu * du), c(l + gu * du + gv * dv), c(l + rv * dv), 255};
    }
};

// The decoder's matrix for a frame, or nothing for one the fast way does not know. Untagged
// pictures follow the common convention, as the BGRA conversion does: BT.709 from 720
// lines up.
std::optional<FromYUV> matrixOf(const AVFrame* f) {
    int space = f->colorspace;
    if (space == AVCOL_SPC_UNSPECIFIED || space == AVCOL_SPC_RESERVED)
        space = f->height >= 720 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
    const bool full = f->color_range == AVCOL_RANGE_JPEG || f->format == AV_PIX_FMT_YUVJ420P;
    if (space == AVCOL_SPC_BT709) return FromYUV(0.2126, 0.0722, full);
    if (space == AVCOL_SPC_SMPTE170M || space == AVCOL_SPC_BT470BG) return FromYUV(0.299, 0.114, full);
    return std::nullopt;
}

// The grey step of a 2 x 2 block of a BT.709 limited-range frame. The four pixels of a
// block share the chroma offsets (R' - Y', G' - Y', B' - Y'), so the grey step is a
// change of the block's colour alone: Cb and Cr scaled by the mask, and each Y' moved
// by the share of the offsets' mean that the mask takes away. (Where a channel clips
// this differs from the step pixel by pixel only near black and white, by a fraction
// of a level.)
struct GreyStep {
    uint8_t u = 128, v = 128;
    int luma = 0;  // added to each of the block's Y'
};
GreyStep greyStep(const FromYUV& m, int u, int v) {
    const int du = u - 128, dv = v - 128;
    const int r = m.rv * dv, g = m.gu * du + m.gv * dv, b = m.bu * du;  // 1/65536 of a level
    const int spread = std::max(r, std::max(g, b)) - std::min(r, std::min(g, b));
    // mask = clamp(24 * chroma - 48/255), here in 1/4096: 0 up to 2 levels apart, 1 from
    // about 12.6.
    const int mask = std::min(std::max((24 * spread - 48 * 65536) / 4080, 0), 4096);
    GreyStep s;
    s.u = uint8_t(128 + ((mask * du + 2048) >> 12));
    s.v = uint8_t(128 + ((mask * dv + 2048) >> 12));
    // (1 - mask) of the offsets' mean, in Y levels (219/255 of a level, a third of the
    // sum). Only blocks the mask keeps below 1 have offsets small enough here.
    const int kept = ((4096 - mask) * ((r + g + b) >> 8)) >> 12;  // 1/256 of a level
    s.luma = (kept * 18761 + (1 << 23)) >> 24;                    // 18761 = 219/765 in 1/65536
    return s;
}

// The grey step depends on a block's Cb and Cr alone: its outcome for every pair, made
// once. A row then costs a look-up per block and an add per luma.
class GreyTable {
public:
    explicit GreyTable(const FromYUV& m) : m_entry(size_t(1) << 16) {
        for (int u = 0; u < 256; ++u)
            for (int v = 0; v < 256; ++v) {
                const GreyStep g = greyStep(m, u, v);
                m_entry[size_t(u << 8 | v)] =
                    uint32_t(g.u) | uint32_t(g.v) << 8 | uint32_t(uint8_t(int8_t(g.luma))) << 16;
            }
    }

    // One row of blocks (half of them) through the step: lumas from rows y0 and y1, chroma
    // from u and v.
    void row(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v, int half, uint8_t* oy0,
             uint8_t* oy1, uint8_t* ou, uint8_t* ov) const {
        int8_t step[64];
        for (int x0 = 0; x0 < half; x0 += 64) {
            const int n = std::min(64, half - x0);
            for (int k = 0; k < n;) {
                // Screens are mostly flat: runs of one colour take one look-up.
                if (k + 16 <= n && sameColour(u + x0 + k, v + x0 + k)) {
                    const uint32_t e = m_entry[size_t(u[x0 + k] << 8 | v[x0 + k])];
                    std::memset(ou + x0 + k, uint8_t(e), 16);
                    std::memset(ov + x0 + k, uint8_t(e >> 8), 16);
                    std::memset(step + k, uint8_t(e >> 16), 16);
                    k += 16;
                    continue;
                }
                const int end = std::min(k + 16, n);
                for (; k < end; ++k) {
                    const uint32_t e = m_entry[size_t(u[x0 + k] << 8 | v[x0 + k])];
                    ou[x0 + k] = uint8_t(e), ov[x0 + k] = uint8_t(e >> 8), step[k] = int8_t(e >> 16);
                }
            }
            const int done = stepLumas(step, n, y0 + 2 * x0, y1 + 2 * x0, oy0 + 2 * x0, oy1 + 2 * x0);
            for (int k = done; k < n; ++k)
                for (int c = 2 * (x0 + k); c < 2 * (x0 + k) + 2; ++c) {
                    oy0[c] = uint8_t(std::clamp(y0[c] + step[k], 0, 255));
                    oy1[c] = uint8_t(std::clamp(y1[c] + step[k], 0, 255));
                }
        }
    }

private:
    // Whether 16 blocks share one Cb and one Cr.
    static bool sameColour(const uint8_t* u, const uint8_t* v) {
#ifdef __SSE2__
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v));
        const __m128i eq =
            _mm_and_si128(_mm_cmpeq_epi8(a, _mm_set1_epi8(char(u[0]))), _mm_cmpeq_epi8(b, _mm_set1_epi8(char(v[0]))));
        return _mm_movemask_epi8(eq) == 0xffff;
#else
        return std::equal(u + 1, u + 16, u) && std::equal(v + 1, v + 16, v);
#endif
    }

    // Adds each block's step to its two lumas in both rows, eight blocks at a time;
    // returns how many blocks it did.
    static int stepLumas(const int8_t* step, int n, const uint8_t* y0, const uint8_t* y1, uint8_t* oy0, uint8_t* oy1) {
        int k = 0;
#ifdef __SSE2__
        const __m128i zero = _mm_setzero_si128();
        for (; k + 8 <= n; k += 8) {
            const __m128i s = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(step + k));
            const __m128i both = _mm_unpacklo_epi8(s, s), sign = _mm_cmpgt_epi8(zero, both);
            const __m128i lo = _mm_unpacklo_epi8(both, sign), hi = _mm_unpackhi_epi8(both, sign);
            for (int r = 0; r < 2; ++r) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>((r ? y1 : y0) + 2 * k));
                _mm_storeu_si128(reinterpret_cast<__m128i*>((r ? oy1 : oy0) + 2 * k),
                                 _mm_packus_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), lo),
                                                  _mm_add_epi16(_mm_unpackhi_epi8(a, zero), hi)));
            }
        }
#endif
        return k;
    }

    std::vector<uint32_t> m_entry;  // by Cb << 8 | Cr: new Cb | new Cr << 8 | step << 16
};

// Chroma rows [c0, c1) of a decoded frame, through the grey step, into BT.709 4:2:0;
// frames in another matrix or range pixel by pixel.
void prepareRows(const FromYUV& m, const AVFrame* f, AVFrame* out, int c0, int c1) {
    const int half = f->width / 2;
    for (int i = c0; i < c1; ++i) {
        const uint8_t* y0 = f->data[0] + ptrdiff_t(2 * i) * f->linesize[0];
        const uint8_t* y1 = y0 + f->linesize[0];
        const uint8_t* u = f->data[1] + ptrdiff_t(i) * f->linesize[1];
        const uint8_t* v = f->data[2] + ptrdiff_t(i) * f->linesize[2];
        uint8_t* oy0 = out->data[0] + ptrdiff_t(2 * i) * out->linesize[0];
        uint8_t* oy1 = oy0 + out->linesize[0];
        uint8_t* ou = out->data[1] + ptrdiff_t(i) * out->linesize[1];
        uint8_t* ov = out->data[2] + ptrdiff_t(i) * out->linesize[2];
        if (m.same) {
            static const GreyTable table(m);
            table.row(y0, y1, u, v, half, oy0, oy1, ou, ov);
            continue;
        }
        for (int x = 0; x < half; ++x) {
            const int du = u[x] - 128, dv = v[x] - 128;
            Px8 p[4] = {m.pixel(y0[2 * x], du, dv), m.pixel(y0[2 * x + 1], du, dv), m.pixel(y1[2 * x], du, dv),
                        m.pixel(y1[2 * x + 1], du, dv)};
            for (Px8& q : p) neutralizeGray(q);
            oy0[2 * x] = lumaOf(p[0]), oy0[2 * x + 1] = lumaOf(p[1]);
            oy1[2 * x] = lumaOf(p[2]), oy1[2 * x + 1] = lumaOf(p[3]);
            chromaOf(p[0].r + p[1].r + p[2].r + p[3].r, p[0].g + p[1].g + p[2].g + p[3].g,
                     p[0].b + p[1].b + p[2].b + p[3].b, ou[x], ov[x]);
        }
    }
}

#ifdef __SSE2__
// Two BGRA rows into their lumas and the chroma of their 2 x 2 blocks, eight pixels at a
// time, with lumaOf's and chromaOf's integer arithmetic (so the same bytes); returns how
// many pixels it did, an even number.
__attribute__((target("avx2"))) int blockRowsAVX2(const Px8* a, const Px8* b, int w, uint8_t* ya, uint8_t* ya2,
                                                  uint8_t* u, uint8_t* v) {
    // Luma: (R, B) and (G, G) as 16-bit pairs against (yr, yb) and half of yg twice, which
    // keeps each factor within 16 bits.
    const __m256i rb = _mm256_setr_epi8(2, -1, 0, -1, 6, -1, 4, -1, 10, -1, 8, -1, 14, -1, 12, -1, 2, -1, 0, -1, 6, -1,
                                        4, -1, 10, -1, 8, -1, 14, -1, 12, -1);
    const __m256i gg = _mm256_setr_epi8(1, -1, 1, -1, 5, -1, 5, -1, 9, -1, 9, -1, 13, -1, 13, -1, 1, -1, 1, -1, 5, -1,
                                        5, -1, 9, -1, 9, -1, 13, -1, 13, -1);
    static_assert(yg % 2 == 0);
    const __m256i kRB = _mm256_set1_epi32(yr | yb << 16), kGG = _mm256_set1_epi32(yg / 2 | (yg / 2) << 16);
    const __m256i yRound = _mm256_set1_epi32(32768 + (16 << 16));
    // Chroma: a block's sums as words b, g, r, a against each row's factors.
    const __m256i kU = _mm256_setr_epi16(ub, ug, ur, 0, ub, ug, ur, 0, ub, ug, ur, 0, ub, ug, ur, 0);
    const __m256i kV = _mm256_setr_epi16(vb, vg, vr, 0, vb, vg, vr, 0, vb, vg, vr, 0, vb, vg, vr, 0);
    const __m256i cRound = _mm256_set1_epi32((128 << 18) + (1 << 17)), zero = _mm256_setzero_si256();
    const __m128i uvOrder = _mm_setr_epi8(0, 2, 4, 6, 1, 3, 5, 7, -1, -1, -1, -1, -1, -1, -1, -1);
    int x = 0;
    for (; x + 8 <= w; x += 8) {
        const __m256i pa = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + x));
        const __m256i pb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + x));
        auto lumas = [&](__m256i p) __attribute__((target("avx2"))) {
            const __m256i sum = _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(p, rb), kRB),
                                                 _mm256_madd_epi16(_mm256_shuffle_epi8(p, gg), kGG));
            return _mm256_srli_epi32(_mm256_add_epi32(sum, yRound), 16);
        };
        // Eight lumas of each row as words, lanes put back in order, then bytes.
        const __m256i words = _mm256_permute4x64_epi64(_mm256_packus_epi32(lumas(pa), lumas(pb)), 0xD8);
        const __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(ya + x), bytes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(ya2 + x), _mm_unpackhi_epi64(bytes, bytes));
        // The two rows' pixels as words, added; each pixel then with its right neighbour.
        const __m256i lo = _mm256_add_epi16(_mm256_unpacklo_epi8(pa, zero), _mm256_unpacklo_epi8(pb, zero));
        const __m256i hi = _mm256_add_epi16(_mm256_unpackhi_epi8(pa, zero), _mm256_unpackhi_epi8(pb, zero));
        const __m256i sums = _mm256_add_epi16(_mm256_unpacklo_epi64(lo, hi), _mm256_unpackhi_epi64(lo, hi));
        __m256i cu = _mm256_madd_epi16(sums, kU), cv = _mm256_madd_epi16(sums, kV);
        cu = _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(cu, _mm256_shuffle_epi32(cu, 0xB1)), cRound), 18);
        cv = _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(cv, _mm256_shuffle_epi32(cv, 0xB1)), cRound), 18);
        // Blocks 0, 1 | 2, 3 in words 0 and 2 of each lane: u0 v0 u1 v1 | u2 v2 u3 v3.
        const __m256i uv = _mm256_blend_epi32(cu, _mm256_slli_epi64(cv, 32), 0xAA);
        const __m256i packed = _mm256_packus_epi16(_mm256_packus_epi32(uv, uv), zero);
        const __m128i four = _mm_shuffle_epi8(
            _mm_unpacklo_epi32(_mm256_castsi256_si128(packed), _mm256_extracti128_si256(packed, 1)), uvOrder);
        const int32_t us = _mm_cvtsi128_si32(four), vs = _mm_extract_epi32(four, 1);
        std::memcpy(u + x / 2, &us, 4);
        std::memcpy(v + x / 2, &vs, 4);
    }
    return x;
}
#endif

}  // namespace

void bgraToYUV(const View8& src, AVFrame* out) {
    parallelFor((src.h / 2 + 15) / 16, [&](int band) {
        for (int i = band * 16; i < std::min(src.h / 2, band * 16 + 16); ++i) {
            const Px8* a = src.top(2 * i);
            const Px8* b = src.top(2 * i + 1);
            uint8_t* ya = out->data[0] + ptrdiff_t(2 * i) * out->linesize[0];
            uint8_t* yb2 = ya + out->linesize[0];
            uint8_t* u = out->data[1] + ptrdiff_t(i) * out->linesize[1];
            uint8_t* v = out->data[2] + ptrdiff_t(i) * out->linesize[2];
            int done = 0;
#ifdef __SSE2__
            if (wideRegisters()) done = blockRowsAVX2(a, b, src.w, ya, yb2, u, v);
#endif
            for (int x = done; x < src.w; ++x) {
                ya[x] = lumaOf(a[x]);
                yb2[x] = lumaOf(b[x]);
            }
            for (int x = done / 2; x < src.w / 2; ++x) {
                const Px8 p = a[2 * x], q = a[2 * x + 1], r = b[2 * x], t = b[2 * x + 1];
                chromaOf(p.r + q.r + r.r + t.r, p.g + q.g + r.g + t.g, p.b + q.b + r.b + t.b, u[x], v[x]);
            }
        }
    });
}

void ContentYUV::fresh(int w, int h, AVPixelFormat format) {
    for (const FramePtr& f : m_pool)
        if (f->width == w && f->height == h && f->format == format && av_frame_is_writable(f.get())) {
            m_yuv = f.get();
            return;
        }
    m_pool.push_back(newPicture(w, h, format));
    m_yuv = m_pool.back().get();
}

const AVFrame* ContentYUV::convert(const Image8& content) {
    uint8_t opaque = 255;
    for (const Px8& p : content.px) opaque = std::min(opaque, p.a);
    const AVPixelFormat format = opaque == 255 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUVA420P;
    fresh(content.w, content.h, format);
    if (content.w % 2 == 0 && content.h % 2 == 0) {
        bgraToYUV(content.view(), m_yuv);
        if (format == AV_PIX_FMT_YUVA420P)
            for (int i = 0; i < content.h; ++i) {
                const Px8* s = content.top(i);
                uint8_t* a = m_yuv->data[3] + ptrdiff_t(i) * m_yuv->linesize[3];
                for (int x = 0; x < content.w; ++x) a[x] = s[x].a;
            }
        return m_yuv;
    }
    // Odd sides leave half blocks, which swscale knows how to fill; premultiplied colour
    // converts as it stands, as bgraToYUV does.
    m_sws.reset(sws_getCachedContext(m_sws.release(), content.w, content.h, AV_PIX_FMT_BGRA, content.w, content.h,
                                     format, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!m_sws) die("cannot convert " + std::to_string(content.w) + "x" + std::to_string(content.h) + " frames");
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(m_sws.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    const uint8_t* src[4] = {reinterpret_cast<const uint8_t*>(content.px.data()), nullptr, nullptr, nullptr};
    const int stride[4] = {content.w * 4, 0, 0, 0};
    sws_scale(m_sws.get(), src, stride, 0, content.h, m_yuv->data, m_yuv->linesize);
    return m_yuv;
}

const AVFrame* ContentYUV::prepare(const AVFrame* f, const FramePrep& prep) {
    if (prep.orient != 1 || (f->format != AV_PIX_FMT_YUV420P && f->format != AV_PIX_FMT_YUVJ420P) || f->width % 2 ||
        f->height % 2)
        return nullptr;
    const std::optional<FromYUV> m = matrixOf(f);
    if (!m) return nullptr;
    const int W = f->width, H = f->height;
    fresh(W, H, AV_PIX_FMT_YUV420P);

    // The island's rows go the way of every other frame: BGRA, tidied, neutralised.
    int band = 0;
    if (prep.island) {
        const Island& is = *prep.island;
        const double lowest = std::min({is.wipe.y, is.pill.y, is.dotless.y});
        band = std::max(H - int(std::floor(lowest)) + 2, is.probeY + 3);
        band = std::min((band + 1) & ~1, H);
        if (m_band.w != W || m_band.h != band) m_band = Image8(W, band);
        for (int i = 0; i < band; ++i) {
            const uint8_t* y = f->data[0] + ptrdiff_t(i) * f->linesize[0];
            const uint8_t* u = f->data[1] + ptrdiff_t(i / 2) * f->linesize[1];
            const uint8_t* v = f->data[2] + ptrdiff_t(i / 2) * f->linesize[2];
            Px8* row = m_band.top(i);
            for (int x = 0; x < W; ++x) row[x] = m->pixel(y[x], u[x / 2] - 128, v[x / 2] - 128);
        }
        // The band is the frame's top: the island's shapes move down with its bottom.
        Island shifted = is;
        for (Rect* r : {&shifted.wipe, &shifted.pill, &shifted.dotless}) r->y -= H - band;
        shifted.apply(m_band.view());
        neutralizeGrays(m_band.view());
        bgraToYUV(m_band.view(), m_yuv);
    }
    const int first = band / 2, rows = H / 2 - first;
    parallelFor((rows + 15) / 16,
                [&](int b) { prepareRows(*m, f, m_yuv, first + 16 * b, first + std::min(16 * b + 16, rows)); });
    return m_yuv;
}
