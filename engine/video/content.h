#pragma once
#include <vector>

#include "flat/surface.h"
#include "video/av.h"

struct FramePrep;

// Opaque BGRA to BT.709 limited-range 4:2:0 (chroma from the mean of each 2 x 2 block),
// on all cores. Even sides. Equal to swscale's conversion within one level, at a
// fraction of its time, which matters at every recording frame.
void bgraToYUV(const View8& src, AVFrame* out);

// The recording frame as every flat output draws it: upright, tidied, neutralised and
// in the encoders' colour space (BT.709, limited range, 4:2:0), made once per frame and
// shared by the outputs, which may hold it (by reference) while the next one is made. A
// frame with transparent pixels becomes premultiplied 4:2:0 with an alpha plane (YUVA);
// an opaque one has none.
class ContentYUV {
public:
    // From a prepared BGRA frame.
    const AVFrame* convert(const Image8& content);
    // Straight from a decoded 8-bit 4:2:0 frame of an upright recording: tidying, grey
    // neutralisation and colour conversion in one pass, without a BGRA picture. Null for
    // any other frame, which then goes through BGRA and convert.
    const AVFrame* prepare(const AVFrame* decoded, const FramePrep& prep);

private:
    // Points m_yuv at a picture of that shape that no output still holds a reference to
    // (outputs draw a frame while the next one is made), made anew only when all are held.
    void fresh(int w, int h, AVPixelFormat format);

    std::vector<FramePtr> m_pool;
    AVFrame* m_yuv = nullptr;
    SwsPtr m_sws;
    Image8 m_band;  // the island's rows in BGRA
};
