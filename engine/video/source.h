#pragma once
#include <cstdint>
#include <string>

#include "flat/surface.h"
#include "video/av.h"

// An opened recording: its first video stream, the size and orientation that make its
// frames upright, and the frame rate its outputs are written at.
struct Source {
    std::string path;
    InputPtr fmt;
    int stream = -1;
    double W = 0, H = 0;  // upright size in pixels
    int orient = 1;       // TIFF/EXIF orientation that turns a decoded frame upright: 1, 3, 6 or 8
    int fps = 60;         // normalised rate, 1 to 60

    AVStream* st() const { return fmt->streams[stream]; }
};

// The index of the first video stream of an opened file that is a recording (not a
// picture, cover art or a single still frame), or -1.
int firstVideoStream(const AVFormatContext* fmt);

// Opens the recording or ends with "recording not found: ", "no video track in " or
// "cannot read the video track in " followed by the path.
Source openVideo(const std::string& path);

// The output rate for a nominal rate and the shortest gap between frames (0 when
// unknown): the peak rate wins, then a standard rate within 8 %, else the rounded rate
// held to 1..60. Single precision, as the rate is stored.
int normalizedFps(float nominal, double minFrameSeconds);

// Decodes the recording front to back in presentation order, from a start time on.
class FrameReader {
public:
    // startSec counts from the start of the stream. The first frame delivered is the one
    // on screen at that moment: the last whose presentation time is at or before it, or
    // the last frame while the start lies within its display time. decodeThreads 0: one
    // frame thread per core.
    FrameReader(Source& src, double startSec, int decodeThreads = 0);

    // Moves to the next frame; false at the end. Read and decode errors end the
    // process with "read failed: " and the library's text.
    bool next();

    // The current frame's presentation time, in timeBase() units.
    int64_t pts() const { return m_pts; }
    AVRational timeBase() const { return m_tb; }
    // The current frame's time in seconds from the start of the stream.
    double seconds() const { return double(m_pts - m_origin) * av_q2d(m_tb); }
    // The current frame as 8-bit BGRA in stored orientation, premultiplied: opaque
    // unless the recording carries alpha.
    void picture(Image8& out);
    // Lets go of the memory picture() keeps for the next frame.
    void releasePicture() { m_bgra.reset(); }

    // The current frame as decoded.
    const AVFrame* decoded() const { return m_frame.get(); }

private:
    bool receive();
    void seekTo(int64_t ts);
    bool seekEarlier();
    int64_t frameEnd(const AVFrame* f) const;

    Source& m_src;
    CodecPtr m_dec;
    FramePtr m_frame, m_bgra;
    // While looking for the frame on screen at the start: the latest frame at or before
    // it, and the frame after it, delivered next.
    FramePtr m_held, m_after;
    bool m_searching = false, m_hasHeld = false, m_hasAfter = false;
    int64_t m_seekTs = 0;  // where the last seek aimed
    PacketPtr m_pkt;
    SwsPtr m_sws;
    int m_swsKey[5] = {-1, -1, -1, -1, -1};
    AVRational m_tb{1, 1};
    int64_t m_origin = 0;
    int64_t m_startTs = 0;  // the last tick at or before the start
    int64_t m_pts = 0;
    bool m_flushed = false;
};
