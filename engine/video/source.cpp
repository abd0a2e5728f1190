#include "video/source.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <thread>
#include <vector>

#include "base/die.h"
#include "base/inputfile.h"

namespace {

// Image files open as one-stream videos too: a picture format, or a stream that holds
// a single picture of a still-image codec (its descriptor names an image type).
bool isPicture(const AVFormatContext* fmt, const AVStream* st) {
    if (st->disposition & AV_DISPOSITION_ATTACHED_PIC) return true;  // cover art
    const std::string_view name = fmt->iformat->name;
    if (name == "image2" || name == "image2pipe" || name.ends_with("_pipe") || name == "gif" || name == "apng")
        return true;
    const AVCodecDescriptor* desc = avcodec_descriptor_get(st->codecpar->codec_id);
    bool stillCodec = false;
    for (const char* const* m = desc ? desc->mime_types : nullptr; m && *m; ++m)
        stillCodec |= std::string_view(*m).starts_with("image/");
    if (!stillCodec) return false;
    const int64_t frames = st->nb_frames > 0 ? st->nb_frames : avformat_index_get_entries_count(st);
    return frames == 1;
}

}  // namespace

// The first video stream that is a recording rather than a picture.
int firstVideoStream(const AVFormatContext* fmt) {
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !isPicture(fmt, st)) return int(i);
    }
    return -1;
}

namespace {

// The shortest gap between consecutive sample times of the demuxer's index, in seconds;
// 0 when the index has fewer than two samples.
double shortestGap(AVStream* st) {
    const int n = avformat_index_get_entries_count(st);
    std::vector<int64_t> ts;
    ts.reserve(size_t(std::max(n, 0)));
    for (int i = 0; i < n; ++i)
        if (const AVIndexEntry* e = avformat_index_get_entry(st, i)) ts.push_back(e->timestamp);
    std::sort(ts.begin(), ts.end());
    int64_t gap = 0;
    for (size_t i = 1; i < ts.size(); ++i) {
        const int64_t d = ts[i] - ts[i - 1];
        if (d > 0 && (gap == 0 || d < gap)) gap = d;
    }
    return gap > 0 ? double(gap) * av_q2d(st->time_base) : 0.0;
}

}  // namespace

int normalizedFps(float r, double minFrameSeconds) {
    if (minFrameSeconds > 0) r = std::max(r, float(1.0 / minFrameSeconds));
    if (!(r > 0)) return 60;
    float best = 24;
    for (float s : {25.f, 30.f, 50.f, 60.f})
        if (std::fabs(s - r) < std::fabs(best - r)) best = s;
    if (std::fabs(best - r) <= 0.08f * r) return int(best);
    return int(std::clamp(std::round(r), 1.f, 60.f));
}

Source openVideo(const std::string& path) {
    quietAV();
    requireRegularFile(path, "recording", "recording not found: " + path);

    Source s;
    s.path = path;
    s.fmt = openLocalInput(path, recordingFormats);
    if (!s.fmt || avformat_find_stream_info(s.fmt.get(), nullptr) < 0) die("no video track in " + path);
    s.stream = firstVideoStream(s.fmt.get());
    if (s.stream < 0) die("no video track in " + path);

    AVStream* st = s.st();
    const AVCodecParameters* par = st->codecpar;
    if (par->width <= 0 || par->height <= 0 || !avcodec_find_decoder(par->codec_id))
        die("cannot read the video track in " + path);

    const auto [a, b, c, d] = displayMatrix(st);
    s.W = std::fabs(a * par->width + c * par->height);
    s.H = std::fabs(b * par->width + d * par->height);
    // The orientation tags that turn a picture clockwise by 0, 1, 2 or 3 quarters.
    constexpr int orientationOf[4] = {1, 6, 3, 8};
    s.orient = orientationOf[uprightQuarterTurns(a, b, c, d)];
    if (!(s.W >= 1 && s.H >= 1)) die("cannot read the video track in " + path);

    const float nominal = st->avg_frame_rate.den > 0 ? float(av_q2d(st->avg_frame_rate)) : 0.f;
    s.fps = normalizedFps(nominal, shortestGap(st));

    for (unsigned i = 0; i < s.fmt->nb_streams; ++i)
        if (int(i) != s.stream) s.fmt->streams[i]->discard = AVDISCARD_ALL;
    return s;
}

FrameReader::FrameReader(Source& src, double startSec, int decodeThreads) : m_src(src) {
    AVStream* st = src.st();
    m_tb = st->time_base;
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    m_dec.reset(avcodec_alloc_context3(codec));
    if (!m_dec) die("cannot read the video track in " + src.path);
    avCheck(avcodec_parameters_to_context(m_dec.get(), st->codecpar), "avcodec_parameters_to_context");
    m_dec->pkt_timebase = m_tb;
    // Frame threads decode ahead; one per core (the library's own choice is one more),
    // unless the caller already keeps the cores busy while it decodes.
    m_dec->thread_count =
        decodeThreads > 0 ? decodeThreads : int(std::clamp(std::thread::hardware_concurrency(), 1u, 16u));
    m_dec->thread_type = FF_THREAD_FRAME;
    if (avcodec_open2(m_dec.get(), codec, nullptr) < 0) die("cannot read the video track in " + src.path);
    m_frame = newAVFrame();
    m_held = newAVFrame();
    m_after = newAVFrame();
    m_pkt = newAVPacket();

    m_origin = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
    m_startTs = m_origin;
    if (startSec > 0) {
        const double ticks = startSec / av_q2d(m_tb);
        m_startTs = ticks >= double(INT64_MAX / 4) ? INT64_MAX / 4 : m_origin + int64_t(std::floor(ticks + 1e-6));
        m_searching = true;
        seekTo(m_startTs);
    }
}

namespace {

uint8_t premultiply(uint8_t c, uint8_t a) { return uint8_t((c * a + 127) / 255); }

int64_t ptsOf(const AVFrame* f) {
    return f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
}

}  // namespace

void FrameReader::seekTo(int64_t ts) {
    m_seekTs = ts;
    AVFormatContext* fmt = m_src.fmt.get();
    // A failed seek only costs time: reading from the front reaches the same frames.
    if (ts > m_origin && av_seek_frame(fmt, m_src.stream, ts, AVSEEK_FLAG_BACKWARD) >= 0) return;
    m_seekTs = m_origin;
    if (!(fmt->iformat->flags & AVFMT_NO_BYTE_SEEK) && av_seek_frame(fmt, -1, 0, AVSEEK_FLAG_BYTE) >= 0) return;
    av_seek_frame(fmt, m_src.stream, m_origin, AVSEEK_FLAG_BACKWARD);
}

bool FrameReader::seekEarlier() {
    // Files without an index seek to a packet near the time, not to the key frame
    // before it; each retry goes back twice as far, at last to the front.
    if (m_seekTs <= m_origin) return false;
    const int64_t second = av_rescale_q(1, AVRational{1, 1}, m_tb);
    const int64_t back = std::max(2 * (m_startTs - m_seekTs), std::max<int64_t>(second, 1));
    avcodec_flush_buffers(m_dec.get());
    m_flushed = false;
    m_hasHeld = false;
    seekTo(m_startTs - back);
    return true;
}

int64_t FrameReader::frameEnd(const AVFrame* f) const {
    if (f->pkt_duration > 0) return ptsOf(f) + f->pkt_duration;
    const AVRational rate = av_guess_frame_rate(m_src.fmt.get(), m_src.st(), const_cast<AVFrame*>(f));
    if (rate.num > 0 && rate.den > 0) return ptsOf(f) + std::max<int64_t>(av_rescale_q(1, av_inv_q(rate), m_tb), 1);
    return ptsOf(f) + 1;
}

bool FrameReader::receive() {
    for (;;) {
        int rc = avcodec_receive_frame(m_dec.get(), m_frame.get());
        if (rc == 0) {
            if (ptsOf(m_frame.get()) == AV_NOPTS_VALUE) continue;
            return true;
        }
        if (rc == AVERROR_EOF) return false;
        if (rc != AVERROR(EAGAIN)) die("read failed: " + avError(rc));
        if (m_flushed) return false;

        rc = av_read_frame(m_src.fmt.get(), m_pkt.get());
        if (rc == AVERROR_EOF) {
            m_flushed = true;
            avcodec_send_packet(m_dec.get(), nullptr);
            continue;
        }
        if (rc < 0) die("read failed: " + avError(rc));
        if (m_pkt->stream_index == m_src.stream) {
            if (m_pkt->flags & AV_PKT_FLAG_CORRUPT) die("read failed: truncated data in " + m_src.path);
            rc = avcodec_send_packet(m_dec.get(), m_pkt.get());
            if (rc < 0 && rc != AVERROR(EAGAIN)) die("read failed: " + avError(rc));
        }
        av_packet_unref(m_pkt.get());
    }
}

bool FrameReader::next() {
    if (m_hasAfter) {
        std::swap(m_frame, m_after);
        m_hasAfter = false;
    } else {
        for (;;) {
            if (!receive()) {
                if (!m_searching) return false;
                if (!m_hasHeld && seekEarlier()) continue;
                // The start lies after the last frame: still on screen until it ends?
                if (!m_hasHeld || m_startTs >= frameEnd(m_held.get())) return false;
                std::swap(m_frame, m_held);
                m_searching = m_hasHeld = false;
                break;
            }
            const int64_t pts = ptsOf(m_frame.get());
            if (!m_searching) {
                if (pts < m_startTs) continue;
                break;
            }
            if (pts <= m_startTs) {
                // After a seek, frames may miss their references; such a frame is not
                // the picture that was on screen.
                if (!(m_frame->flags & AV_FRAME_FLAG_CORRUPT)) {
                    std::swap(m_held, m_frame);
                    m_hasHeld = true;
                }
                continue;
            }
            // Past the start with nothing before it: the seek landed after the key frame
            // that starts the picture on screen, or the recording starts later.
            if (!m_hasHeld && seekEarlier()) continue;
            m_searching = false;
            if (m_hasHeld) {
                std::swap(m_after, m_frame);
                m_hasAfter = true;
                std::swap(m_frame, m_held);
                m_hasHeld = false;
            }
            break;
        }
    }
    if (m_frame->flags & AV_FRAME_FLAG_CORRUPT) die("read failed: corrupt frame in " + m_src.path);
    m_pts = ptsOf(m_frame.get());
    return true;
}

void FrameReader::picture(Image8& out) {
    const AVFrame* f = m_frame.get();
    if (out.w != f->width || out.h != f->height || out.px.size() != size_t(f->width) * size_t(f->height))
        out = Image8(f->width, f->height);
    // Untagged pictures follow the common convention: BT.709 from 720 lines up.
    int space = f->colorspace;
    if (space == AVCOL_SPC_UNSPECIFIED || space == AVCOL_SPC_RESERVED)
        space = f->height >= 720 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
    const int full = f->color_range == AVCOL_RANGE_JPEG ? 1 : 0;
    const int key[5] = {f->width, f->height, f->format, space, full};
    SwsContext* sws = sws_getCachedContext(m_sws.release(), f->width, f->height, AVPixelFormat(f->format), f->width,
                                           f->height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    m_sws.reset(sws);
    if (!sws)
        die("read failed: cannot convert " + std::string(av_get_pix_fmt_name(AVPixelFormat(f->format)) ?: "?") +
            " frames");
    if (!std::equal(key, key + 5, m_swsKey)) {
        const int* coeffs = sws_getCoefficients(space);
        sws_setColorspaceDetails(sws, coeffs, full, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        std::copy(key, key + 5, m_swsKey);
    }
    // swscale's vector code may write past the end of a packed row, so it converts into
    // a padded picture that is then copied row by row.
    if (!m_bgra || m_bgra->width != f->width || m_bgra->height != f->height) {
        m_bgra = newAVFrame();
        m_bgra->format = AV_PIX_FMT_BGRA;
        m_bgra->width = f->width;
        m_bgra->height = f->height;
        avCheck(av_frame_get_buffer(m_bgra.get(), 64), "av_frame_get_buffer");
    }
    sws_scale(sws, f->data, f->linesize, 0, f->height, m_bgra->data, m_bgra->linesize);
    for (int i = 0; i < out.h; ++i)
        std::memcpy(out.top(i), m_bgra->data[0] + ptrdiff_t(i) * m_bgra->linesize[0], size_t(out.w) * 4);
    // Recordings with alpha (PNG or run-length frames in a movie, ProRes 4444) come out
    // of the conversion unpremultiplied.
    if (const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(f->format));
        d && d->flags & AV_PIX_FMT_FLAG_ALPHA)
        for (Px8& p : out.px)
            if (p.a != 255) p = {premultiply(p.b, p.a), premultiply(p.g, p.a), premultiply(p.r, p.a), p.a};
}
