#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <vector>

#include "base/commands.h"
#include "base/die.h"
#include "video/av.h"

namespace fs = std::filesystem;

namespace {

constexpr int sampleRate = 48000;

bool isRecording(const AVStream* st) {
    return st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

InputPtr openMedia(const std::string& path) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return nullptr;
    InputPtr in(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0) return nullptr;
    return in;
}

// One audio track of the sound file, decoded and resampled to 48 kHz stereo float.
struct Track {
    int stream = -1;
    CodecPtr dec;
    SwrPtr swr;
    std::deque<float> l, r;
    bool ended = false;
};

// The new file being written beside the video. Every failure after it exists removes
// it first, so the video is never touched unless the new one is complete.
class Job {
public:
    explicit Job(std::string tmp) : m_tmp(std::move(tmp)) {}
    [[noreturn]] void fail(const std::string& message) {
        m_out.reset();
        std::error_code ec;
        fs::remove(m_tmp, ec);
        die(message);
    }
    void check(int rc) {
        if (rc < 0) fail("audio failed: " + avError(rc));
    }
    const std::string& tmp() const { return m_tmp; }
    OutputPtr m_out;

private:
    std::string m_tmp;
};

}  // namespace

void cmd_audio(const Args& args) {
    if (args.size() != 2) die("usage: audio <video.mp4> <sound file>");
    const std::string& video = args[0];
    const std::string& sound = args[1];
    std::error_code ec;
    if (!fs::is_regular_file(video, ec)) die("not found: " + video);
    if (!fs::is_regular_file(sound, ec)) die("not found: " + sound);
    quietAV();

    InputPtr vin = openMedia(video);
    if (!vin) die("no video in " + video);
    int vs = -1;
    for (unsigned i = 0; i < vin->nb_streams && vs < 0; ++i)
        if (isRecording(vin->streams[i])) vs = int(i);
    if (vs < 0) die("no video in " + video);
    AVStream* vst = vin->streams[vs];
    // The picture's own length: an old sound track that runs longer is dropped anyway.
    double duration = vst->duration != AV_NOPTS_VALUE ? double(vst->duration) * av_q2d(vst->time_base) : 0;
    if (!(duration > 0) && vin->duration != AV_NOPTS_VALUE) duration = double(vin->duration) / AV_TIME_BASE;
    if (!(duration > 0)) die("no video in " + video);
    for (unsigned i = 0; i < vin->nb_streams; ++i)
        if (int(i) != vs) vin->streams[i]->discard = AVDISCARD_ALL;

    InputPtr sin = openMedia(sound);
    if (!sin) die("no sound in " + sound);
    std::vector<Track> tracks;
    for (unsigned i = 0; i < sin->nb_streams; ++i) {
        AVStream* st = sin->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) {
            st->discard = AVDISCARD_ALL;
            continue;
        }
        Track t;
        t.stream = int(i);
        tracks.push_back(std::move(t));
    }
    if (tracks.empty()) die("no sound in " + sound);
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    for (Track& t : tracks) {
        AVStream* st = sin->streams[t.stream];
        const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
        t.dec.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!t.dec || avcodec_parameters_to_context(t.dec.get(), st->codecpar) < 0 ||
            avcodec_open2(t.dec.get(), codec, nullptr) < 0)
            die("cannot read " + video + " / " + sound);
        AVChannelLayout in;
        if (t.dec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || t.dec->ch_layout.nb_channels == 0)
            av_channel_layout_default(&in, std::max(t.dec->ch_layout.nb_channels, 1));
        else av_channel_layout_copy(&in, &t.dec->ch_layout);
        SwrContext* swr = nullptr;
        const int rc = swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_FLTP, sampleRate, &in, t.dec->sample_fmt,
                                           t.dec->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&in);
        t.swr.reset(swr);
        if (rc < 0 || swr_init(swr) < 0) die("cannot read " + video + " / " + sound);
    }

    // A video named clip.mp4 is first written as .clip.audio.mp4 beside it.
    const fs::path vp(video);
    Job job((vp.parent_path() / ("." + vp.stem().string() + ".audio.mp4")).string());
    fs::remove(job.tmp(), ec);

    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "mp4", job.tmp().c_str()) < 0 || !raw)
        die("cannot write " + job.tmp());
    job.m_out.reset(raw);

    // The picture, copied packet for packet with its track matrix.
    AVStream* ovs = avformat_new_stream(raw, nullptr);
    if (!ovs) die("cannot write " + job.tmp());
    if (avcodec_parameters_copy(ovs->codecpar, vst->codecpar) < 0) die("cannot write " + job.tmp());
    // hvc1 (parameter sets in the header) is what players expect; other tags are the muxer's choice.
    ovs->codecpar->codec_tag = vst->codecpar->codec_tag == MKTAG('h', 'v', 'c', '1') ? vst->codecpar->codec_tag : 0;
    ovs->time_base = vst->time_base;
    size_t msize = 0;
    if (const uint8_t* m = av_stream_get_side_data(vst, AV_PKT_DATA_DISPLAYMATRIX, &msize); m && msize) {
        uint8_t* copy = av_stream_new_side_data(ovs, AV_PKT_DATA_DISPLAYMATRIX, msize);
        if (!copy) die("cannot write " + job.tmp());
        std::copy(m, m + msize, copy);
    }

    const AVCodec* aac = avcodec_find_encoder_by_name("aac");
    CodecPtr enc(aac ? avcodec_alloc_context3(aac) : nullptr);
    if (!enc) die("cannot write " + job.tmp() + "  (no AAC encoder)");
    enc->sample_fmt = AV_SAMPLE_FMT_FLTP;
    enc->sample_rate = sampleRate;
    av_channel_layout_copy(&enc->ch_layout, &stereo);
    enc->bit_rate = 192000;
    enc->time_base = AVRational{1, sampleRate};
    if (raw->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int rc = avcodec_open2(enc.get(), aac, nullptr); rc < 0) die("cannot start: " + avError(rc));
    AVStream* oas = avformat_new_stream(raw, nullptr);
    if (!oas) die("cannot write " + job.tmp());
    oas->time_base = enc->time_base;
    if (avcodec_parameters_from_context(oas->codecpar, enc.get()) < 0) die("cannot write " + job.tmp());

    if (avio_open(&raw->pb, job.tmp().c_str(), AVIO_FLAG_WRITE) < 0) die("cannot write " + job.tmp());
    // From here on the hidden file exists: every failure removes it.
    AVDictionary* opts = nullptr;
    if (vst->time_base.num == 1) av_dict_set_int(&opts, "video_track_timescale", vst->time_base.den, 0);
    const int hrc = avformat_write_header(raw, &opts);
    av_dict_free(&opts);
    if (hrc < 0) job.fail("cannot start: " + avError(hrc));

    // Sound: every track decoded to 48 kHz stereo, summed, cut where the picture ends.
    const int64_t total = std::llround(duration * sampleRate);
    const int frameSize = enc->frame_size > 0 ? enc->frame_size : 1024;
    int64_t emitted = 0;
    bool soundRead = false, encoderDrained = false, flushed = false;
    FramePtr decoded = newAVFrame(), mixed = newAVFrame();
    PacketPtr spkt = newAVPacket(), apkt = newAVPacket(), vpkt = newAVPacket();
    std::vector<float> tmpL(8192), tmpR(8192);

    auto drainDecoder = [&](Track& t) {
        for (;;) {
            int rc = avcodec_receive_frame(t.dec.get(), decoded.get());
            if (rc == AVERROR(EAGAIN)) return;
            if (rc == AVERROR_EOF) {
                // What the resampler still holds.
                for (;;) {
                    uint8_t* outp[2] = {reinterpret_cast<uint8_t*>(tmpL.data()),
                                        reinterpret_cast<uint8_t*>(tmpR.data())};
                    const int got = swr_convert(t.swr.get(), outp, int(tmpL.size()), nullptr, 0);
                    job.check(got);
                    if (got == 0) break;
                    t.l.insert(t.l.end(), tmpL.begin(), tmpL.begin() + got);
                    t.r.insert(t.r.end(), tmpR.begin(), tmpR.begin() + got);
                }
                t.ended = true;
                return;
            }
            job.check(rc);
            const int room = swr_get_out_samples(t.swr.get(), decoded->nb_samples);
            if (room > int(tmpL.size())) tmpL.resize(size_t(room)), tmpR.resize(size_t(room));
            uint8_t* outp[2] = {reinterpret_cast<uint8_t*>(tmpL.data()), reinterpret_cast<uint8_t*>(tmpR.data())};
            const int got = swr_convert(t.swr.get(), outp, int(tmpL.size()),
                                        const_cast<const uint8_t**>(decoded->extended_data), decoded->nb_samples);
            job.check(got);
            t.l.insert(t.l.end(), tmpL.begin(), tmpL.begin() + got);
            t.r.insert(t.r.end(), tmpR.begin(), tmpR.begin() + got);
        }
    };
    // Reads the sound file until every track holds a frame's worth or has ended.
    auto fillTracks = [&](int64_t want) {
        auto ready = [&] {
            for (const Track& t : tracks)
                if (!t.ended && int64_t(t.l.size()) < want) return false;
            return true;
        };
        while (!ready()) {
            if (soundRead) {
                for (Track& t : tracks)
                    if (!t.ended) {
                        avcodec_send_packet(t.dec.get(), nullptr);
                        drainDecoder(t);
                        t.ended = true;
                    }
                return;
            }
            const int rc = av_read_frame(sin.get(), spkt.get());
            if (rc == AVERROR_EOF) {
                soundRead = true;
                continue;
            }
            job.check(rc);
            for (Track& t : tracks)
                if (t.stream == spkt->stream_index && !t.ended) {
                    const int src = avcodec_send_packet(t.dec.get(), spkt.get());
                    if (src != AVERROR(EAGAIN)) job.check(src);
                    drainDecoder(t);
                }
            av_packet_unref(spkt.get());
        }
    };
    // The next encoded sound packet, or false when the sound is done.
    auto nextSound = [&]() -> bool {
        for (;;) {
            int rc = avcodec_receive_packet(enc.get(), apkt.get());
            if (rc == 0) return true;
            if (rc == AVERROR_EOF) {
                encoderDrained = true;
                return false;
            }
            if (rc != AVERROR(EAGAIN)) job.check(rc);
            const int64_t want = std::min<int64_t>(frameSize, total - emitted);
            if (!flushed) fillTracks(want);
            int64_t have = 0;
            for (const Track& t : tracks) have = std::max<int64_t>(have, int64_t(t.l.size()));
            const int n = int(std::min(want, have));
            if (n <= 0 || flushed) {
                flushed = true;
                job.check(avcodec_send_frame(enc.get(), nullptr));
                continue;
            }
            av_frame_unref(mixed.get());
            mixed->format = AV_SAMPLE_FMT_FLTP;
            mixed->sample_rate = sampleRate;
            mixed->nb_samples = n;
            av_channel_layout_copy(&mixed->ch_layout, &stereo);
            job.check(av_frame_get_buffer(mixed.get(), 0));
            auto* L = reinterpret_cast<float*>(mixed->data[0]);
            auto* R = reinterpret_cast<float*>(mixed->data[1]);
            std::fill(L, L + n, 0.f);
            std::fill(R, R + n, 0.f);
            for (Track& t : tracks) {
                const int k = int(std::min<int64_t>(n, int64_t(t.l.size())));
                for (int i = 0; i < k; ++i) L[i] += t.l[size_t(i)], R[i] += t.r[size_t(i)];
                t.l.erase(t.l.begin(), t.l.begin() + k);
                t.r.erase(t.r.begin(), t.r.begin() + k);
            }
            mixed->pts = emitted;
            emitted += n;
            job.check(avcodec_send_frame(enc.get(), mixed.get()));
        }
    };
    auto nextPicture = [&]() -> bool {
        for (;;) {
            const int rc = av_read_frame(vin.get(), vpkt.get());
            if (rc == AVERROR_EOF) return false;
            job.check(rc);
            if (vpkt->stream_index == vs) return true;
            av_packet_unref(vpkt.get());
        }
    };

    // Both streams go out in time order, so the muxer interleaves without holding much.
    bool havePicture = nextPicture(), haveSound = nextSound();
    while (havePicture || haveSound) {
        const bool pictureFirst =
            havePicture && (!haveSound || av_compare_ts(vpkt->dts != AV_NOPTS_VALUE ? vpkt->dts : vpkt->pts,
                                                        vst->time_base, apkt->dts, enc->time_base) <= 0);
        if (pictureFirst) {
            av_packet_rescale_ts(vpkt.get(), vst->time_base, ovs->time_base);
            vpkt->stream_index = ovs->index;
            vpkt->pos = -1;
            job.check(av_interleaved_write_frame(raw, vpkt.get()));
            havePicture = nextPicture();
        } else {
            av_packet_rescale_ts(apkt.get(), enc->time_base, oas->time_base);
            apkt->stream_index = oas->index;
            job.check(av_interleaved_write_frame(raw, apkt.get()));
            haveSound = !encoderDrained && nextSound();
        }
    }
    if (emitted == 0) job.fail("audio failed: nothing could be decoded from " + sound);
    job.check(av_write_trailer(raw));
    if (raw->pb->error < 0) job.check(raw->pb->error);
    job.check(avio_closep(&raw->pb));
    job.m_out.reset();

    fs::rename(job.tmp(), video, ec);
    if (ec) job.fail("audio failed: cannot replace " + video);
    std::printf("saved %s  (+ %s, %.2fs)\n", video.c_str(), fs::path(sound).filename().c_str(), duration);
    std::fflush(stdout);
}
