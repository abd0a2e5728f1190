#include "video/source.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/die.h"
#include "base/inputfile.h"

// The first real video stream; cover art in sound files is stored as a one-picture
// video stream and is not a recording.
int firstVideoStream(const AVFormatContext* fmt) {
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return int(i);
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

int uprightOrientation(double a, double b, double c, double d) {
    if (a == 0 && b == 1 && c == -1 && d == 0) return 6;
    if (a == 0 && b == -1 && c == 1 && d == 0) return 8;
    if (a == -1 && b == 0 && c == 0 && d == -1) return 3;
    return 1;
}

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
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) die("no video track in " + path);
    s.fmt.reset(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0) die("no video track in " + path);
    s.stream = firstVideoStream(raw);
    if (s.stream < 0) die("no video track in " + path);

    AVStream* st = s.st();
    const AVCodecParameters* par = st->codecpar;
    if (par->width <= 0 || par->height <= 0 || !avcodec_find_decoder(par->codec_id))
        die("cannot read the video track in " + path);

    // The track matrix as libavformat exposes it: a b u / c d v / x y w, 16.16 fixed point.
    double a = 1, b = 0, c = 0, d = 1;
    size_t size = 0;
    if (const uint8_t* m = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size); m && size >= 9 * 4) {
        const auto* v = reinterpret_cast<const int32_t*>(m);
        a = v[0] / 65536.0, b = v[1] / 65536.0, c = v[3] / 65536.0, d = v[4] / 65536.0;
    }
    s.W = std::fabs(a * par->width + c * par->height);
    s.H = std::fabs(b * par->width + d * par->height);
    s.orient = uprightOrientation(a, b, c, d);
    if (!(s.W >= 1 && s.H >= 1)) die("cannot read the video track in " + path);

    const float nominal = st->avg_frame_rate.den > 0 ? float(av_q2d(st->avg_frame_rate)) : 0.f;
    s.fps = normalizedFps(nominal, shortestGap(st));

    for (unsigned i = 0; i < raw->nb_streams; ++i)
        if (int(i) != s.stream) raw->streams[i]->discard = AVDISCARD_ALL;
    return s;
}

FrameReader::FrameReader(Source& src, double startSec) : m_src(src) {
    AVStream* st = src.st();
    m_tb = st->time_base;
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    m_dec.reset(avcodec_alloc_context3(codec));
    if (!m_dec) die("cannot read the video track in " + src.path);
    avCheck(avcodec_parameters_to_context(m_dec.get(), st->codecpar), "avcodec_parameters_to_context");
    m_dec->pkt_timebase = m_tb;
    m_dec->thread_count = 0;
    m_dec->thread_type = FF_THREAD_FRAME;
    if (avcodec_open2(m_dec.get(), codec, nullptr) < 0) die("cannot read the video track in " + src.path);
    m_frame = newAVFrame();
    m_pkt = newAVPacket();

    const int64_t origin = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
    m_origin = origin;
    m_startTs = origin;
    if (startSec > 0) {
        const double ticks = startSec / av_q2d(m_tb);
        m_startTs = ticks >= double(INT64_MAX / 2) ? INT64_MAX / 2 : origin + int64_t(std::ceil(ticks - 1e-6));
        // A failed seek only costs time: reading from the front reaches the same frames.
        if (av_seek_frame(src.fmt.get(), src.stream, m_startTs, AVSEEK_FLAG_BACKWARD) < 0)
            av_seek_frame(src.fmt.get(), src.stream, origin, AVSEEK_FLAG_BACKWARD);
    }
}

bool FrameReader::next() {
    for (;;) {
        int rc = avcodec_receive_frame(m_dec.get(), m_frame.get());
        if (rc == 0) {
            const int64_t pts =
                m_frame->best_effort_timestamp != AV_NOPTS_VALUE ? m_frame->best_effort_timestamp : m_frame->pts;
            // Frames before the start may lack references after a seek; they are not used.
            if (pts == AV_NOPTS_VALUE || pts < m_startTs) continue;
            if (m_frame->flags & AV_FRAME_FLAG_CORRUPT) die("read failed: corrupt frame in " + m_src.path);
            m_pts = pts;
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
}
