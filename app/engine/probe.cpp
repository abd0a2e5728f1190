// Thumbnails and durations come from libvips and FFmpeg directly; the engine is not involved.
// Every failure gives nothing: the filmstrip shows its placeholder instead.

// glib names a struct member `signals`, which Qt defines as a macro: vips goes first.
#include "flat/vipsimage.h"
#include "video/avhandles.h"

#include "engine.h"
#include "async.h"

#include <QFile>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <memory>

namespace Engine {
namespace {

constexpr int thumbSize = 240;

bool vipsReady() {
    static const bool ok = VIPS_INIT("trevalo") == 0;
    return ok;
}

std::optional<QImage> imageThumb(const QString& path) {
    if (!vipsReady()) return std::nullopt;
    VipsImage* raw = nullptr;
    // Shrinks to fit 240 × 240 and turns the picture upright by its orientation tag; never enlarges.
    if (vips_thumbnail(QFile::encodeName(path).constData(), &raw, thumbSize, "height", thumbSize, "size",
                       VIPS_SIZE_DOWN, nullptr) != 0) {
        vips_error_clear();
        return std::nullopt;
    }
    VipsPtr img(raw);
    if (!toSrgbAlpha8(img)) {
        vips_error_clear();
        return std::nullopt;
    }

    size_t size = 0;
    void* mem = vips_image_write_to_memory(img.get(), &size);
    if (!mem) {
        vips_error_clear();
        return std::nullopt;
    }
    const int w = vips_image_get_width(img.get()), h = vips_image_get_height(img.get());
    QImage result = QImage(static_cast<const uchar*>(mem), w, h, w * 4, QImage::Format_RGBA8888).copy();
    g_free(mem);
    return result;
}

InputPtr openMedia(const QString& path) {
    // A file that cannot be probed is reported by the missing result, not by library chatter.
    static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
    (void)quiet;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, QFile::encodeName(path).constData(), nullptr, nullptr) < 0) return nullptr;
    InputPtr fmt(raw);
    if (avformat_find_stream_info(fmt.get(), nullptr) < 0) return nullptr;
    return fmt;
}

AVFrame* firstFrame(AVFormatContext* fmt, int index, AVCodecContext* dec, AVFrame* frame) {
    PacketPtr pkt(av_packet_alloc());
    if (!pkt) return nullptr;
    while (av_read_frame(fmt, pkt.get()) >= 0) {
        const bool ours = pkt->stream_index == index;
        const int sent = ours ? avcodec_send_packet(dec, pkt.get()) : 0;
        av_packet_unref(pkt.get());
        if (sent < 0 && sent != AVERROR(EAGAIN)) return nullptr;
        if (ours && avcodec_receive_frame(dec, frame) == 0) return frame;
    }
    avcodec_send_packet(dec, nullptr);
    return avcodec_receive_frame(dec, frame) == 0 ? frame : nullptr;
}

std::optional<QImage> videoThumb(const QString& path) {
    InputPtr fmt = openMedia(path);
    if (!fmt) return std::nullopt;
    int index = -1;
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        if (fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            index = int(i);
            break;
        }
    if (index < 0) return std::nullopt;
    AVStream* st = fmt->streams[index];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) return std::nullopt;
    CodecPtr dec(avcodec_alloc_context3(codec));
    if (!dec || avcodec_parameters_to_context(dec.get(), st->codecpar) < 0) return std::nullopt;
    dec->thread_count = 1;
    if (avcodec_open2(dec.get(), codec, nullptr) < 0) return std::nullopt;

    FramePtr frame(av_frame_alloc());
    if (!frame || !firstFrame(fmt.get(), index, dec.get(), frame.get())) return std::nullopt;
    const int w = frame->width, h = frame->height;
    if (w <= 0 || h <= 0 || frame->format < 0) return std::nullopt;

    // Fit the upright picture into 240 × 240; the box is square, so turning does not change the scale.
    const double scale = std::min({1.0, double(thumbSize) / w, double(thumbSize) / h});
    const int sw = std::max(1, int(std::lround(w * scale))), sh = std::max(1, int(std::lround(h * scale)));
    SwsPtr sws(sws_getContext(w, h, AVPixelFormat(frame->format), sw, sh, AV_PIX_FMT_RGBA, SWS_AREA, nullptr, nullptr,
                              nullptr));
    if (!sws) return std::nullopt;
    QImage img(sw, sh, QImage::Format_RGBA8888);
    if (img.isNull()) return std::nullopt;
    uint8_t* dst[4] = {img.bits(), nullptr, nullptr, nullptr};
    const int stride[4] = {int(img.bytesPerLine()), 0, 0, 0};
    if (sws_scale(sws.get(), frame->data, frame->linesize, 0, h, dst, stride) != sh) return std::nullopt;

    const auto [a, b, c, d] = displayMatrix(st);
    if (const int turns = uprightQuarterTurns(a, b, c, d)) img = img.transformed(QTransform().rotate(90.0 * turns));
    return img;
}

// A filmstrip full of large pictures must not hold up the decoding of previews on the shared pool.
QThreadPool* probePool() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool(QCoreApplication::instance());
        p->setMaxThreadCount(2);
        return p;
    }();
    return pool;
}

}  // namespace

std::optional<QImage> thumbnailNow(const QString& path, Kind kind) {
    return kind == Kind::video ? videoThumb(path) : imageThumb(path);
}

std::optional<double> durationNow(const QString& path) {
    InputPtr fmt = openMedia(path);
    if (!fmt || fmt->duration == AV_NOPTS_VALUE) return std::nullopt;
    const double seconds = double(fmt->duration) / AV_TIME_BASE;
    if (!std::isfinite(seconds) || seconds < 0) return std::nullopt;
    return seconds;
}

void thumbnail(const QString& path, Kind kind, QObject* context, std::function<void(std::optional<QImage>)> done) {
    detail::offThread(
        context, [path, kind] { return thumbnailNow(path, kind); }, std::move(done), probePool());
}

void duration(const QString& path, QObject* context, std::function<void(std::optional<double>)> done) {
    detail::offThread(
        context, [path] { return durationNow(path); }, std::move(done), probePool());
}

}  // namespace Engine
