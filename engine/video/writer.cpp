#include "video/writer.h"

#include <algorithm>

#include "base/die.h"
#include "video/content.h"

namespace {

// The stream and every frame say the same: BT.709 in limited range.
template <class T> void tagBt709(T* x) {
    x->color_primaries = AVCOL_PRI_BT709;
    x->color_trc = AVCOL_TRC_BT709;
    x->colorspace = AVCOL_SPC_BT709;
    x->color_range = AVCOL_RANGE_MPEG;
}

}  // namespace

int64_t videoBitRate(int w, int h, int fps) {
    const double bits = std::clamp(double(w) * h * fps * 0.2, 8e6, 9e7);
    return int64_t(bits);
}

Writer::Writer(const std::string& path, int w, int h, int fps, Container container, Slots slots, int threads)
    : m_path(absolutePath(path)), m_w(w), m_h(h), m_fps(fps), m_slots(slots) {
    quietAV();
    if (w < 2 || h < 2 || w % 2 || h % 2)
        die("cannot write " + m_path + ": H.264 in 4:2:0 wants even sides, not " + std::to_string(w) + "x" +
            std::to_string(h));

    AVFormatContext* raw = nullptr;
    const char* format = container == Container::MP4 ? "mp4" : "mov";
    if (avformat_alloc_output_context2(&raw, nullptr, format, nullptr) < 0 || !raw)
        die("cannot create video writer at " + m_path);
    m_out.reset(raw);

    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) die("cannot create video writer at " + m_path + "  (no libx264 encoder)");
    m_enc.reset(avcodec_alloc_context3(codec));
    if (!m_enc) die("cannot create video writer at " + m_path);
    AVCodecContext* enc = m_enc.get();
    enc->width = w;
    enc->height = h;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    enc->time_base = AVRational{1, fps};
    enc->framerate = AVRational{fps, 1};
    enc->sample_aspect_ratio = AVRational{1, 1};
    enc->bit_rate = videoBitRate(w, h, fps);
    enc->gop_size = fps;
    tagBt709(enc);
    enc->thread_count = threads;
    if (raw->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(enc->priv_data, "preset", x264Preset, 0);
    av_opt_set(enc->priv_data, "profile", "high", 0);
    av_opt_set(enc->priv_data, "coder", "cabac", 0);
    // Reordered frames get decode times that lag by a count of frames, not of slots;
    // after a gap the track would then end before its last frame does.
    if (slots == Slots::WithGaps) enc->max_b_frames = 0;
    if (int rc = avcodec_open2(enc, codec, nullptr); rc < 0)
        die("cannot write " + m_path + ": avcodec_open2: " + avError(rc));

    m_st = avformat_new_stream(raw, nullptr);
    if (!m_st) die("cannot create video writer at " + m_path);
    m_st->time_base = enc->time_base;
    m_st->avg_frame_rate = enc->framerate;
    avCheck(avcodec_parameters_from_context(m_st->codecpar, enc), "avcodec_parameters_from_context");

    m_file.emplace(m_path);
    if (int err = m_file->error()) die("cannot write " + m_path + ": " + avError(AVERROR(err)));
    if (int rc = avio_open(&raw->pb, m_file->path().c_str(), AVIO_FLAG_WRITE); rc < 0)
        die("cannot write " + m_path + ": " + avError(rc));
    AVDictionary* opts = nullptr;
    av_dict_set_int(&opts, "video_track_timescale", fps, 0);
    // The movie's own clock too, so that its length is exact rather than rounded to 1/1000 s.
    av_dict_set_int(&opts, "movie_timescale", fps, 0);
    const int rc = avformat_write_header(raw, &opts);
    av_dict_free(&opts);
    if (rc < 0) die("cannot write " + m_path + ": " + avError(rc));

    m_yuv = newAVFrame();
    m_yuv->format = AV_PIX_FMT_YUV420P;
    m_yuv->width = w;
    m_yuv->height = h;
    tagBt709(m_yuv.get());
    avCheck(av_frame_get_buffer(m_yuv.get(), 0), "av_frame_get_buffer");
    m_pkt = newAVPacket();
}

View8 Writer::newFrame() {
    // Made on first use: outputs composed in 4:2:0 never need it.
    if (m_bgra.empty()) {
        m_bgra = Image8(m_w, m_h);
        for (Px8& p : m_bgra.px) p.a = 255;
    }
    return m_bgra.view();
}

void Writer::append(int64_t slot) {
    newFrame();
    bgraToYUV(m_bgra.view(), canvas());
    appendCanvas(slot);
}

AVFrame* Writer::canvas() {
    // The encoder may still hold the last picture; the canvas then becomes a copy of it.
    avCheck(av_frame_make_writable(m_yuv.get()), "av_frame_make_writable");
    return m_yuv.get();
}

void Writer::appendCanvas(int64_t slot) {
    m_hasLast = true;
    repeat(slot);
}

bool Writer::repeat(int64_t slot) {
    if (!m_hasLast) return false;
    if (slot <= m_lastSlot || (m_slots == Slots::Consecutive && slot != m_lastSlot + 1))
        die("writer failed: " + m_path + ": frame " + std::to_string(slot) + " cannot follow frame " +
            std::to_string(m_lastSlot));
    m_yuv->pts = slot;
    m_lastSlot = slot;
    encode(m_yuv.get());
    return true;
}

void Writer::fail(int rc) { die("writer failed: " + m_path + ": " + avError(rc)); }

void Writer::encode(const AVFrame* f) {
    int rc = avcodec_send_frame(m_enc.get(), f);
    if (rc < 0) fail(rc);
    for (;;) {
        rc = avcodec_receive_packet(m_enc.get(), m_pkt.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
        if (rc < 0) fail(rc);
        // Every frame lasts one slot: the last one up to the end slot, the others up to
        // the next decode time, which the muxer takes from the packets.
        m_pkt->duration = 1;
        av_packet_rescale_ts(m_pkt.get(), m_enc->time_base, m_st->time_base);
        m_pkt->stream_index = m_st->index;
        rc = av_interleaved_write_frame(m_out.get(), m_pkt.get());
        if (rc < 0) fail(rc);
    }
}

void Writer::finish(int64_t endSlot) {
    if (m_lastSlot < 0) die("writer failed: " + m_path + ": no frames");
    if (endSlot != m_lastSlot + 1)
        die("writer failed: " + m_path + ": the video must end one slot after its last frame");
    encode(nullptr);
    AVFormatContext* out = m_out.get();
    if (int rc = av_write_trailer(out); rc < 0) fail(rc);
    if (out->pb->error < 0) fail(out->pb->error);
    if (int rc = avio_closep(&out->pb); rc < 0) fail(rc);
    if (int err = m_file->commit()) fail(AVERROR(err));
}
