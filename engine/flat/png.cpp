#include "flat/png.h"

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/die.h"
#include "flat/raster.h"

namespace {

void put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}

// A whole chunk: length, type, data, and the CRC of type and data.
std::vector<uint8_t> chunk(const char* type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> c(12 + data.size());
    put32(c.data(), uint32_t(data.size()));
    std::copy(type, type + 4, c.begin() + 4);
    std::copy(data.begin(), data.end(), c.begin() + 8);
    put32(c.data() + 8 + data.size(), uint32_t(crc32(0, c.data() + 4, uInt(4 + data.size()))));
    return c;
}

// One row as the sub filter writes it: the filter type, then every byte less the same
// byte of the pixel to its left.
void subRow(const Px8* px, int w, PngAlpha alpha, uint8_t* out) {
    *out++ = 1;
    uint8_t r0 = 0, g0 = 0, b0 = 0, a0 = 0;
    if (alpha == PngAlpha::opaque) {
        for (int x = 0; x < w; ++x, out += 3) {
            const Px8 p = px[x];
            out[0] = uint8_t(p.r - r0), out[1] = uint8_t(p.g - g0), out[2] = uint8_t(p.b - b0);
            r0 = p.r, g0 = p.g, b0 = p.b;
        }
        return;
    }
    for (int x = 0; x < w; ++x, out += 4) {
        const Px8 p = px[x];
        auto un = [&](uint8_t c) { return p.a ? uint8_t(std::min(255, (c * 255 + p.a / 2) / p.a)) : uint8_t(0); };
        const uint8_t r = un(p.r), g = un(p.g), b = un(p.b);
        out[0] = uint8_t(r - r0), out[1] = uint8_t(g - g0), out[2] = uint8_t(b - b0), out[3] = uint8_t(p.a - a0);
        r0 = r, g0 = g, b0 = b, a0 = p.a;
    }
}

// What one core needs for a band. Made once per core and picture, then handed on.
struct Worker {
    z_stream z{};
    Image8 band;
    std::vector<uint8_t> filtered, room;

    Worker(int w, int rows, size_t rowBytes) : band(w, rows), filtered(rowBytes * size_t(rows)) {
        // Raw deflate: the zlib header and the combined checksum are written around the
        // strips. Level 1 after the sub filter is both faster and smaller than level 6
        // without filters on framed screenshots (bench/still).
        if (deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) die("deflateInit2: out of memory");
    }
    ~Worker() { deflateEnd(&z); }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
};

struct Strip {
    std::vector<uint8_t> chunk;  // a whole IDAT chunk
    uLong adler = 1;             // of the strip's filtered bytes
    size_t raw = 0;              // filtered bytes in the strip
    bool done = false;
};

// Deflates `n` bytes as one strip into an IDAT chunk; the first strip carries the zlib
// header, the last one ends the stream, every other one ends on a byte boundary.
void deflateStrip(z_stream& z, std::vector<uint8_t>& room, const uint8_t* in, size_t n, bool first, bool last,
                  Strip& s) {
    if (deflateReset(&z) != Z_OK) die("deflateReset: " + std::string(z.msg ? z.msg : "failed"));
    const size_t head = 8 + (first ? 2 : 0);
    // The worker's own room, large enough for the worst case, keeps its pages from strip
    // to strip; the chunk gets only what was written.
    if (room.size() < head + deflateBound(&z, uLong(n)) + 64) room.resize(head + deflateBound(&z, uLong(n)) + 64);
    if (first) room[8] = 0x78, room[9] = 0x01;  // deflate, 32 KiB window, fastest level
    z.next_in = const_cast<uint8_t*>(in);
    z.avail_in = uInt(n);
    size_t used = head;
    for (;;) {
        z.next_out = room.data() + used;
        z.avail_out = uInt(room.size() - used);
        const int rc = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
        used = room.size() - z.avail_out;
        if (rc == Z_STREAM_END || (!last && rc == Z_OK && z.avail_out > 0)) break;
        if (rc != Z_OK && rc != Z_BUF_ERROR) die("deflate: " + std::string(z.msg ? z.msg : std::to_string(rc)));
        room.resize(room.size() * 2);
    }
    put32(room.data(), uint32_t(used - 8));
    std::copy_n("IDAT", 4, room.begin() + 4);
    s.chunk.assign(room.begin(), room.begin() + ptrdiff_t(used));
    s.chunk.resize(used + 4);
    put32(s.chunk.data() + used, uint32_t(crc32(0, s.chunk.data() + 4, uInt(used - 4))));
    s.adler = adler32_z(adler32(0, nullptr, 0), in, n);
    s.raw = n;
}

}  // namespace

int pngBandRows(int w) { return std::clamp(262144 / std::max(1, 4 * w), 4, 128); }

void encodePNG(int w, int h, PngAlpha alpha, const DrawBand& draw, const ByteSink& sink) {
    const size_t rowBytes = 1 + size_t(w) * (alpha == PngAlpha::opaque ? 3 : 4);
    static const uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    sink(signature, sizeof signature);
    std::vector<uint8_t> ihdr(13, 0);
    put32(ihdr.data(), uint32_t(w));
    put32(ihdr.data() + 4, uint32_t(h));
    ihdr[8] = 8;                                            // bits per sample
    ihdr[9] = alpha == PngAlpha::opaque ? 2 : 6;            // truecolour, with alpha
    const std::vector<uint8_t> head = chunk("IHDR", ihdr);  // compression, filter, interlace: 0
    sink(head.data(), head.size());

    const int rows = pngBandRows(w), bands = (h + rows - 1) / rows;
    std::vector<Strip> strips(static_cast<size_t>(bands));
    std::mutex lock;  // guards the pool, the strips' done flags, the sink and the checksum
    std::vector<std::unique_ptr<Worker>> pool;
    int next = 0;
    uLong adler = adler32(0, nullptr, 0);
    parallelFor(bands, [&](int k) {
        std::unique_ptr<Worker> wk;
        {
            std::lock_guard guard(lock);
            if (!pool.empty()) wk = std::move(pool.back()), pool.pop_back();
        }
        if (!wk) wk = std::make_unique<Worker>(w, rows, rowBytes);
        const int top = k * rows, n = std::min(rows, h - top);
        const View8 band = wk->band.view().band(0, n);
        draw(band, top);
        for (int i = 0; i < n; ++i) subRow(band.top(i), w, alpha, wk->filtered.data() + size_t(i) * rowBytes);
        Strip& s = strips[size_t(k)];
        deflateStrip(wk->z, wk->room, wk->filtered.data(), rowBytes * size_t(n), k == 0, k == bands - 1, s);

        std::lock_guard guard(lock);
        pool.push_back(std::move(wk));
        s.done = true;
        // Whoever completes the strip the file waits for writes it and any ready after it.
        for (; next < bands && strips[size_t(next)].done; ++next) {
            Strip& ready = strips[size_t(next)];
            sink(ready.chunk.data(), ready.chunk.size());
            adler = adler32_combine(adler, ready.adler, z_off_t(ready.raw));
            ready.chunk = {};
        }
    });
    std::vector<uint8_t> tail(4);
    put32(tail.data(), uint32_t(adler));
    const std::vector<uint8_t> sum = chunk("IDAT", tail), end = chunk("IEND", {});
    sink(sum.data(), sum.size());
    sink(end.data(), end.size());
}
