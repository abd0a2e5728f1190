// The audio command, shaped like a muxing example: one small struct per output stream,
// one function that writes each, and a short loop that interleaves them by time.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <vector>

#include "base/commands.h"
#include "base/die.h"
#include "base/inputfile.h"
#include "base/pending.h"
#include "video/av.h"
#include "video/source.h"

namespace fs = std::filesystem;

namespace {

constexpr int sampleRate = 48000;
const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;

// Once the new file exists every failure ends here; die() removes the hidden file.
void check(int rc) {
    if (rc < 0) die("audio failed: " + avError(rc));
}

InputPtr openMedia(const std::string& path) {
    InputPtr in = openLocalInput(path, soundFormats);
    if (!in || avformat_find_stream_info(in.get(), nullptr) < 0) return nullptr;
    return in;
}

// The picture's own length: an old sound track that runs longer is dropped anyway.
double pictureSeconds(const AVFormatContext* in, const AVStream* st) {
    double s = st->duration != AV_NOPTS_VALUE ? double(st->duration) * av_q2d(st->time_base) : 0;
    if (!(s > 0) && in->duration != AV_NOPTS_VALUE) s = double(in->duration) / AV_TIME_BASE;
    return s;
}

// One audio track of the sound file, decoded and resampled to 48 kHz stereo float.
struct SoundTrack {
    int stream = -1;
    CodecPtr dec;
    SwrPtr swr;
    std::deque<float> l, r;
    int64_t received = 0;
    bool ended = false;
};

// Every audio track of the sound file, decoded in step and summed into one stereo
// signal of at most `limit` samples: what lies past the video's end is never kept.
class SoundMix {
public:
    // Ends with "no sound in " + sound, or "cannot read " + video + " / " + sound when a
    // track cannot be decoded.
    SoundMix(const std::string& sound, const std::string& video, int64_t limit) : m_limit(limit) {
        m_in = openMedia(sound);
        if (!m_in) die("no sound in " + sound);
        for (unsigned i = 0; i < m_in->nb_streams; ++i) {
            AVStream* st = m_in->streams[i];
            if (st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) st->discard = AVDISCARD_ALL;
            else if (!openTrack(st)) die("cannot read " + video + " / " + sound);
        }
        if (m_tracks.empty()) die("no sound in " + sound);
    }

    // Mixes up to n samples into L and R; fewer at the end of the sound, then 0.
    int mix(float* L, float* R, int n) {
        readFor(n);
        size_t have = 0;
        for (const SoundTrack& t : m_tracks) have = std::max(have, t.l.size());
        const int k = int(std::min<size_t>(size_t(n), have));
        std::fill(L, L + k, 0.f);
        std::fill(R, R + k, 0.f);
        for (SoundTrack& t : m_tracks) {
            const int m = int(std::min<size_t>(size_t(k), t.l.size()));
            for (int i = 0; i < m; ++i) L[i] += t.l[size_t(i)], R[i] += t.r[size_t(i)];
            t.l.erase(t.l.begin(), t.l.begin() + m);
            t.r.erase(t.r.begin(), t.r.begin() + m);
        }
        return k;
    }

private:
    bool openTrack(const AVStream* st) {
        SoundTrack t;
        t.stream = st->index;
        const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
        t.dec.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!t.dec || avcodec_parameters_to_context(t.dec.get(), st->codecpar) < 0 ||
            avcodec_open2(t.dec.get(), codec, nullptr) < 0)
            return false;
        AVChannelLayout in;
        if (t.dec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || t.dec->ch_layout.nb_channels == 0)
            av_channel_layout_default(&in, std::max(t.dec->ch_layout.nb_channels, 1));
        else av_channel_layout_copy(&in, &t.dec->ch_layout);
        SwrContext* swr = nullptr;
        AVChannelLayout out = stereo;
        const int rc = swr_alloc_set_opts2(&swr, &out, AV_SAMPLE_FMT_FLTP, sampleRate, &in, t.dec->sample_fmt,
                                           t.dec->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&in);
        t.swr.reset(swr);
        if (rc < 0 || swr_init(swr) < 0) return false;
        m_tracks.push_back(std::move(t));
        return true;
    }

    // Reads the file until every track holds n samples or has ended.
    void readFor(int n) {
        auto lacking = [&] {
            for (const SoundTrack& t : m_tracks)
                if (!t.ended && t.l.size() < size_t(n)) return true;
            return false;
        };
        while (lacking()) {
            if (m_read) {
                for (SoundTrack& t : m_tracks)
                    if (!t.ended) {
                        avcodec_send_packet(t.dec.get(), nullptr);
                        drain(t);
                        t.ended = true;
                    }
                return;
            }
            const int rc = av_read_frame(m_in.get(), m_pkt.get());
            if (rc == AVERROR_EOF) {
                m_read = true;
                continue;
            }
            check(rc);
            for (SoundTrack& t : m_tracks)
                if (t.stream == m_pkt->stream_index && !t.ended) {
                    const int src = avcodec_send_packet(t.dec.get(), m_pkt.get());
                    if (src != AVERROR(EAGAIN)) check(src);
                    drain(t);
                }
            av_packet_unref(m_pkt.get());
        }
    }

    // Moves what the decoder holds through the resampler into the track's buffers.
    void drain(SoundTrack& t) {
        while (!t.ended) {
            const int rc = avcodec_receive_frame(t.dec.get(), m_decoded.get());
            if (rc == AVERROR(EAGAIN)) return;
            if (rc == AVERROR_EOF) {
                while (keep(t, nullptr, 0) > 0) {
                }  // what the resampler still holds
                t.ended = true;
                return;
            }
            check(rc);
            keep(t, const_cast<const uint8_t**>(m_decoded->extended_data), m_decoded->nb_samples);
        }
    }

    int keep(SoundTrack& t, const uint8_t** in, int count) {
        const int room = swr_get_out_samples(t.swr.get(), count);
        if (room > int(m_l.size())) m_l.resize(size_t(room)), m_r.resize(size_t(room));
        uint8_t* out[2] = {reinterpret_cast<uint8_t*>(m_l.data()), reinterpret_cast<uint8_t*>(m_r.data())};
        const int got = swr_convert(t.swr.get(), out, int(m_l.size()), in, count);
        check(got);
        t.l.insert(t.l.end(), m_l.begin(), m_l.begin() + got);
        t.r.insert(t.r.end(), m_r.begin(), m_r.begin() + got);
        t.received += got;
        if (t.received >= m_limit) t.ended = true;
        return got;
    }

    InputPtr m_in;
    std::vector<SoundTrack> m_tracks;
    FramePtr m_decoded = newAVFrame();
    PacketPtr m_pkt = newAVPacket();
    std::vector<float> m_l = std::vector<float>(8192), m_r = std::vector<float>(8192);
    int64_t m_limit;
    bool m_read = false;  // the file has been read to its end
};

// The picture: the video's own packets, copied with the track matrix.
struct PictureStream {
    AVFormatContext* in = nullptr;
    AVStream* ist = nullptr;
    AVStream* ost = nullptr;
    PacketPtr pkt = newAVPacket();
    int64_t next = 0;  // decode time of the packet held, in the input's time base
};

// The sound: the mix encoded as AAC, cut where the picture ends.
struct SoundStream {
    CodecPtr enc;
    AVStream* ost = nullptr;
    FramePtr frame = newAVFrame();
    PacketPtr pkt = newAVPacket();
    int64_t next = 0;  // samples sent to the encoder
    int64_t total = 0;
};

// Holds the picture's next packet; false at the end of the video.
bool readPicture(PictureStream& s) {
    for (;;) {
        const int rc = av_read_frame(s.in, s.pkt.get());
        if (rc == AVERROR_EOF) return false;
        check(rc);
        if (s.pkt->stream_index == s.ist->index) {
            s.next = s.pkt->dts != AV_NOPTS_VALUE ? s.pkt->dts : s.pkt->pts;
            return true;
        }
        av_packet_unref(s.pkt.get());
    }
}

// Writes the packet held and reads the next; false once the video has ended.
bool writePicture(AVFormatContext* out, PictureStream& s) {
    av_packet_rescale_ts(s.pkt.get(), s.ist->time_base, s.ost->time_base);
    s.pkt->stream_index = s.ost->index;
    s.pkt->pos = -1;
    check(av_interleaved_write_frame(out, s.pkt.get()));
    return readPicture(s);
}

// Encodes the next frame of the mix, or flushes the encoder once the sound or the
// picture has ended, and writes what the encoder gives back; false once it is drained.
bool writeSound(AVFormatContext* out, SoundStream& s, SoundMix& mix) {
    AVFrame* f = s.frame.get();
    f->nb_samples = s.enc->frame_size;
    check(av_frame_make_writable(f));
    const int want = int(std::min<int64_t>(s.enc->frame_size, s.total - s.next));
    const int got =
        want > 0 ? mix.mix(reinterpret_cast<float*>(f->data[0]), reinterpret_cast<float*>(f->data[1]), want) : 0;
    f->nb_samples = got;
    f->pts = s.next;
    s.next += got;
    check(avcodec_send_frame(s.enc.get(), got > 0 ? f : nullptr));
    for (;;) {
        const int rc = avcodec_receive_packet(s.enc.get(), s.pkt.get());
        if (rc == AVERROR(EAGAIN)) return true;
        if (rc == AVERROR_EOF) return false;
        check(rc);
        av_packet_rescale_ts(s.pkt.get(), s.enc->time_base, s.ost->time_base);
        s.pkt->stream_index = s.ost->index;
        check(av_interleaved_write_frame(out, s.pkt.get()));
    }
}

// The picture's stream in the new file: the same codec parameters and track matrix.
void addPicture(AVFormatContext* out, PictureStream& s, const std::string& tmp) {
    s.ost = avformat_new_stream(out, nullptr);
    if (!s.ost || avcodec_parameters_copy(s.ost->codecpar, s.ist->codecpar) < 0) die("cannot write " + tmp);
    // hvc1 (parameter sets in the header) is what players expect; other tags are the muxer's choice.
    const uint32_t tag = s.ist->codecpar->codec_tag;
    s.ost->codecpar->codec_tag = tag == MKTAG('h', 'v', 'c', '1') ? tag : 0;
    s.ost->time_base = s.ist->time_base;
    size_t size = 0;
    if (const uint8_t* m = av_stream_get_side_data(s.ist, AV_PKT_DATA_DISPLAYMATRIX, &size); m && size) {
        uint8_t* copy = av_stream_new_side_data(s.ost, AV_PKT_DATA_DISPLAYMATRIX, size);
        if (!copy) die("cannot write " + tmp);
        std::copy(m, m + size, copy);
    }
}

// The sound's stream in the new file: AAC, 48 kHz stereo at 192 kbit/s.
void addSound(AVFormatContext* out, SoundStream& s, const std::string& tmp) {
    const AVCodec* aac = avcodec_find_encoder_by_name("aac");
    s.enc.reset(aac ? avcodec_alloc_context3(aac) : nullptr);
    if (!s.enc) die("cannot write " + tmp + "  (no AAC encoder)");
    AVCodecContext* enc = s.enc.get();
    enc->sample_fmt = AV_SAMPLE_FMT_FLTP;
    enc->sample_rate = sampleRate;
    av_channel_layout_copy(&enc->ch_layout, &stereo);
    enc->bit_rate = 192000;
    enc->time_base = AVRational{1, sampleRate};
    if (out->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int rc = avcodec_open2(enc, aac, nullptr); rc < 0) die("cannot start: " + avError(rc));
    s.ost = avformat_new_stream(out, nullptr);
    if (!s.ost || avcodec_parameters_from_context(s.ost->codecpar, enc) < 0) die("cannot write " + tmp);
    s.ost->time_base = enc->time_base;
    AVFrame* f = s.frame.get();
    f->format = enc->sample_fmt;
    f->sample_rate = sampleRate;
    f->nb_samples = enc->frame_size;
    check(av_channel_layout_copy(&f->ch_layout, &stereo));
    check(av_frame_get_buffer(f, 0));
}

}  // namespace

void cmd_audio(const Args& args) {
    if (args.size() != 2) die(usageAudio);
    const std::string& video = args[0];
    const std::string& sound = args[1];
    requireRegularFile(video, "video", "not found: " + video);
    requireRegularFile(sound, "sound", "not found: " + sound);
    quietAV();

    PictureStream picture;
    InputPtr vin = openMedia(video);
    const int vs = vin ? firstVideoStream(vin.get()) : -1;
    if (vs < 0) die("no video in " + video);
    picture.in = vin.get();
    picture.ist = vin->streams[vs];
    const double duration = pictureSeconds(vin.get(), picture.ist);
    if (!(duration > 0)) die("no video in " + video);
    for (unsigned i = 0; i < vin->nb_streams; ++i)
        if (int(i) != vs) vin->streams[i]->discard = AVDISCARD_ALL;

    SoundStream soundOut;
    soundOut.total = std::llround(duration * sampleRate);
    SoundMix mix(sound, video, soundOut.total);

    PendingFile file(video);
    const std::string& tmp = file.path();
    if (file.error()) die("cannot write " + tmp);
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "mp4", nullptr) < 0 || !raw) die("cannot write " + tmp);
    OutputPtr out(raw);
    addPicture(raw, picture, tmp);
    addSound(raw, soundOut, tmp);
    if (avio_open(&raw->pb, tmp.c_str(), AVIO_FLAG_WRITE) < 0) die("cannot write " + tmp);
    // The picture's track keeps its time scale, and the movie's clock is the same, so the
    // movie lasts exactly as long as the picture rather than to the next 1/1000 s.
    AVDictionary* opts = nullptr;
    if (picture.ist->time_base.num == 1) {
        av_dict_set_int(&opts, "video_track_timescale", picture.ist->time_base.den, 0);
        av_dict_set_int(&opts, "movie_timescale", picture.ist->time_base.den, 0);
    }
    const int hrc = avformat_write_header(raw, &opts);
    av_dict_free(&opts);
    if (hrc < 0) die("cannot start: " + avError(hrc));

    // Each stream goes out in time order, the one that is behind first.
    bool pictureLeft = readPicture(picture), soundLeft = true;
    while (pictureLeft || soundLeft) {
        if (pictureLeft && (!soundLeft || av_compare_ts(picture.next, picture.ist->time_base, soundOut.next,
                                                        soundOut.enc->time_base) <= 0))
            pictureLeft = writePicture(raw, picture);
        else soundLeft = writeSound(raw, soundOut, mix);
    }
    if (soundOut.next == 0) die("audio failed: nothing could be decoded from " + sound);
    check(av_write_trailer(raw));
    check(raw->pb->error);
    check(avio_closep(&raw->pb));
    if (file.commit() != 0) die("audio failed: cannot replace " + video);

    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", duration);
    reportSaved(video, "+ " + fs::path(sound).filename().string() + ", " + seconds + "s");
}
