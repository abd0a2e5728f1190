#pragma once
// Owning handles for FFmpeg's C objects, with deleters that null them, and the one reading
// of a track's display matrix. Header-only: the window's thumbnails use them as well as
// the engine, without linking the engine.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

struct InputFree {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputFree>;

// An output context owns its file handle; closing here is the failure path only,
// finishing closes it explicitly and checks the result.
struct OutputFree {
    void operator()(AVFormatContext* c) const {
        if (c->pb && !(c->oformat->flags & AVFMT_NOFILE)) avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
using OutputPtr = std::unique_ptr<AVFormatContext, OutputFree>;

struct CodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;

struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

struct SwsFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
using SwsPtr = std::unique_ptr<SwsContext, SwsFree>;

struct SwrFree {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
using SwrPtr = std::unique_ptr<SwrContext, SwrFree>;

// Clockwise quarter turns (0 to 3) that bring a track upright, from the first two rows of
// its display matrix (a b / c d). Anything but a pure quarter turn, a mirror among them,
// is shown as stored.
inline int uprightQuarterTurns(double a, double b, double c, double d) {
    if (a == 0 && b == 1 && c == -1 && d == 0) return 1;
    if (a == -1 && b == 0 && c == 0 && d == -1) return 2;
    if (a == 0 && b == -1 && c == 1 && d == 0) return 3;
    return 0;
}

// The first two rows of a track's display matrix (identity when it has none), as
// a, b, c, d in that order.
inline std::array<double, 4> displayMatrix(const AVStream* st) {
    size_t size = 0;
    const uint8_t* m = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!m || size < 9 * sizeof(int32_t)) return {1, 0, 0, 1};
    int32_t v[9];
    std::memcpy(v, m, sizeof v);
    // 16.16 fixed point; the third column (u, v, w) and the translation play no part.
    return {v[0] / 65536.0, v[1] / 65536.0, v[3] / 65536.0, v[4] / 65536.0};
}
