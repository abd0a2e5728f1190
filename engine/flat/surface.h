#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Pixels with the origin at the bottom-left and y up; in memory the first row is the
// top row, so row(y) counts from the bottom.

struct Rect {
    double x = 0, y = 0, w = 0, h = 0;  // (x, y) is the bottom-left corner
    double maxX() const { return x + w; }
    double maxY() const { return y + h; }
    Rect inset(double d) const { return {x + d, y + d, w - 2 * d, h - 2 * d}; }
    bool operator==(const Rect&) const = default;
};

// Pixels [x0, x1) of a row; empty when x1 <= x0.
struct Span {
    int x0 = 0, x1 = 0;
    bool empty() const { return x1 <= x0; }
};

// 8-bit sRGB, premultiplied, blue first in memory.
struct Px8 {
    uint8_t b, g, r, a;
    bool operator==(const Px8&) const = default;
};

// A non-owning 8-bit surface, for example over a video encoder's frame buffer.
struct View8 {
    uint8_t* data = nullptr;
    int w = 0, h = 0;
    ptrdiff_t stride = 0;  // bytes per row
    Px8* top(int i) const { return reinterpret_cast<Px8*>(data + ptrdiff_t(i) * stride); }
    Px8* row(int y) const { return top(h - 1 - y); }
    // Rows [i, i + n) counted from the top, as a surface of their own.
    View8 band(int i, int n) const { return {data + ptrdiff_t(i) * stride, w, n, stride}; }
};

// An owned 8-bit image, rows packed.
struct Image8 {
    int w = 0, h = 0;
    std::vector<Px8> px;

    Image8() = default;
    Image8(int width, int height) : w(width), h(height), px(size_t(width) * size_t(height), Px8{0, 0, 0, 0}) {}
    View8 view() { return {reinterpret_cast<uint8_t*>(px.data()), w, h, ptrdiff_t(w) * 4}; }
    View8 view() const {
        return {const_cast<uint8_t*>(reinterpret_cast<const uint8_t*>(px.data())), w, h, ptrdiff_t(w) * 4};
    }
    Px8* top(int i) { return px.data() + size_t(i) * size_t(w); }
    const Px8* top(int i) const { return px.data() + size_t(i) * size_t(w); }
    Px8* row(int y) { return top(h - 1 - y); }
    const Px8* row(int y) const { return top(h - 1 - y); }
    Px8& at(int x, int y) { return row(y)[x]; }
    const Px8& at(int x, int y) const { return row(y)[x]; }
    bool empty() const { return w == 0 || h == 0; }
};

// High-precision sRGB-encoded, premultiplied RGBA, for plates and overlays.
struct PxF {
    float r, g, b, a;
};

struct SurfaceF {
    int w = 0, h = 0;
    std::vector<PxF> px;

    SurfaceF() = default;
    SurfaceF(int width, int height) : w(width), h(height), px(size_t(width) * size_t(height), PxF{0, 0, 0, 0}) {}
    PxF* top(int i) { return px.data() + size_t(i) * size_t(w); }
    const PxF* top(int i) const { return px.data() + size_t(i) * size_t(w); }
    PxF* row(int y) { return top(h - 1 - y); }
    const PxF* row(int y) const { return top(h - 1 - y); }
    PxF& at(int x, int y) { return row(y)[x]; }
    const PxF& at(int x, int y) const { return row(y)[x]; }
};

// One channel of floats (coverage, alpha), same row order.
struct Plane {
    int w = 0, h = 0;
    std::vector<float> v;

    Plane() = default;
    Plane(int width, int height) : w(width), h(height), v(size_t(width) * size_t(height), 0.f) {}
    float* top(int i) { return v.data() + size_t(i) * size_t(w); }
    const float* top(int i) const { return v.data() + size_t(i) * size_t(w); }
    float* row(int y) { return top(h - 1 - y); }
    const float* row(int y) const { return top(h - 1 - y); }
    float& at(int x, int y) { return row(y)[x]; }
    float at(int x, int y) const { return row(y)[x]; }
};

// The largest side any surface of the engine may have; larger requests end with a
// message instead of an allocation the machine cannot make.
inline constexpr int maxSurfaceSide = 8192;
// The largest input picture the engine decodes: a phone's 48-megapixel photo fits, while a
// few hundred bytes of GIF declaring a larger canvas are refused before seconds of decoding.
inline constexpr int maxInputSide = 16384;
inline constexpr int64_t maxInputPixels = 50'000'000;
