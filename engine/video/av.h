#pragma once
// The one place the engine meets FFmpeg's C headers: owning handles with deleters that
// null them, and the error helpers every video file uses.
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

#include <memory>
#include <string>

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

// The library's own text for an error code.
std::string avError(int rc);
// Ends with "<what>: <library text>" when rc is negative; returns rc otherwise.
int avCheck(int rc, const std::string& what);
// Allocations that fail end the process: there is nothing sensible to do without them.
FramePtr newAVFrame();
// A w x h picture of a planar format, rows padded for vector code that writes past
// their end.
FramePtr newPicture(int w, int h, AVPixelFormat format);
PacketPtr newAVPacket();
// Keeps libav's own log off standard error, which carries exactly one line on failure.
void quietAV();

// Containers a recording or a sound may come in. Playlists, file lists and picture
// patterns are not among them: a file the user names never leads the engine on to read
// other files.
extern const char* const recordingFormats;
extern const char* const soundFormats;
// Opens a local file with only the listed demuxers and the file protocol; null when the
// file is none of them or cannot be read.
InputPtr openLocalInput(const std::string& path, const char* formats);
