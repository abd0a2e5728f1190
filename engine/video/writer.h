#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "base/pending.h"

#include "flat/surface.h"
#include "video/av.h"

enum class Container { MP4, QuickTime };
// Whether frames may skip slots (test clips imitating variable-rate recordings) or
// fill every slot from 0 on (everything else).
enum class Slots { Consecutive, WithGaps };

// The x264 preset of every video the engine writes, measured with `bench/frame --presets`
// (1080x1920 framed frames at 12.4 Mbit/s, 2 cores, SSIM against the uncompressed
// frames): medium 27 fps 0.99981, fast 30 fps 0.99982, faster 44 fps 0.99981, veryfast
// 63 fps 0.99969, superfast 98 fps 0.99965. veryfast is a third faster than faster for
// the least measurable loss; superfast starts to lose more.
inline constexpr const char* x264Preset = "veryfast";

// Average bit rate for a w x h video at fps: 0.2 bits per pixel and frame, held to
// 8 to 90 Mbit/s.
int64_t videoBitRate(int w, int h, int fps);

// An H.264 video file being written: frame n is shown at n / fps, the time base of the
// stream and the track time scale are both fps. Frames are either drawn as
// premultiplied BGRA into the writer's own buffer and converted, or composed straight
// into its BT.709 limited-range 4:2:0 canvas. The video is written under a hidden name
// beside path and takes its place only when finished, so a file already at path stays
// as it was until then. Used by one thread at a time; every failure ends the process,
// and messages name the absolute path.
class Writer {
public:
    // Ends with "cannot create video writer at " + path or "cannot write " + path + ": "
    // + the library's text. threads: the encoder's threads, 0 for as many as the machine
    // has.
    Writer(const std::string& path, int w, int h, int fps, Container container, Slots slots = Slots::Consecutive,
           int threads = 0);
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // The buffer for the next frame (opaque black at first, then whatever was last drawn).
    View8 newFrame();
    // Encodes the buffer at a slot after every slot appended before.
    void append(int64_t slot);
    // The encoder's own 4:2:0 picture (BT.709, limited range), for callers that compose
    // in it directly; it keeps whatever was composed last.
    AVFrame* canvas();
    // Encodes the canvas at a slot after every slot appended before.
    void appendCanvas(int64_t slot);
    // Encodes the last appended picture again at a later slot; false when there is none.
    bool repeat(int64_t slot);
    // Drains the encoder and completes the file, which then ends at endSlot / fps:
    // one slot after the last frame, so that it lasts one frame period; then puts it at
    // path. Ends with "writer failed: " + path + ": " + the library's text.
    void finish(int64_t endSlot);

    int width() const { return m_w; }
    int height() const { return m_h; }
    int fps() const { return m_fps; }
    const std::string& path() const { return m_path; }

private:
    void encode(const AVFrame* f);
    void fail(int rc);

    std::string m_path;
    int m_w, m_h, m_fps;
    std::optional<PendingFile> m_file;  // outlives the output context, which may hold it open
    OutputPtr m_out;
    CodecPtr m_enc;
    AVStream* m_st = nullptr;
    Image8 m_bgra;
    FramePtr m_yuv;
    PacketPtr m_pkt;
    Slots m_slots;
    bool m_hasLast = false;
    int64_t m_lastSlot = -1;
};
