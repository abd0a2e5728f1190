#include <QtTest>

#include "support.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

namespace {

// Stream types of a media file, in order, read independently of the code under test.
QStringList streams(const QString& path) {
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, QFile::encodeName(path).constData(), nullptr, nullptr) < 0) return {};
    QStringList out;
    if (avformat_find_stream_info(fmt, nullptr) >= 0)
        for (unsigned i = 0; i < fmt->nb_streams; ++i)
            out << av_get_media_type_string(fmt->streams[i]->codecpar->codec_type);
    avformat_close_input(&fmt);
    return out;
}

// Copies a recording packet for packet, turning its video track a quarter clockwise the way a
// phone held sideways tags it.
bool remuxTurned(const QString& in, const QString& out) {
    AVFormatContext* ic = nullptr;
    AVFormatContext* oc = nullptr;
    bool ok = avformat_open_input(&ic, QFile::encodeName(in).constData(), nullptr, nullptr) >= 0 &&
              avformat_find_stream_info(ic, nullptr) >= 0 &&
              avformat_alloc_output_context2(&oc, nullptr, "mov", QFile::encodeName(out).constData()) >= 0;
    for (unsigned i = 0; ok && i < ic->nb_streams; ++i) {
        AVStream* os = avformat_new_stream(oc, nullptr);
        ok = os && avcodec_parameters_copy(os->codecpar, ic->streams[i]->codecpar) >= 0;
        if (!ok) break;
        os->codecpar->codec_tag = 0;
        os->time_base = ic->streams[i]->time_base;
        if (os->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            auto* m = reinterpret_cast<int32_t*>(av_stream_new_side_data(os, AV_PKT_DATA_DISPLAYMATRIX, 9 * 4));
            ok = m != nullptr;
            if (ok) av_display_rotation_set(m, 90);  // (0, 1, -1, 0): orientation 6
        }
    }
    ok = ok && avio_open(&oc->pb, QFile::encodeName(out).constData(), AVIO_FLAG_WRITE) >= 0 &&
         avformat_write_header(oc, nullptr) >= 0;
    AVPacket* pkt = av_packet_alloc();
    while (ok && av_read_frame(ic, pkt) >= 0) {
        av_packet_rescale_ts(pkt, ic->streams[pkt->stream_index]->time_base, oc->streams[pkt->stream_index]->time_base);
        ok = av_interleaved_write_frame(oc, pkt) >= 0;
    }
    av_packet_free(&pkt);
    if (ok) ok = av_write_trailer(oc) >= 0;
    if (oc && oc->pb) avio_closep(&oc->pb);
    avformat_free_context(oc);
    avformat_close_input(&ic);
    return ok;
}

void writeWav(const QString& path, double seconds) {
    const int rate = 48000, frames = int(rate * seconds);
    QByteArray data(frames * 4, '\0');
    for (int i = 0; i < frames; ++i) {
        const qint16 v = qint16(6000 * std::sin(i * 0.05));
        memcpy(data.data() + i * 4, &v, 2);
        memcpy(data.data() + i * 4 + 2, &v, 2);
    }
    QByteArray h;
    QDataStream s(&h, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    s.writeRawData("RIFF", 4);
    s << quint32(36 + data.size());
    s.writeRawData("WAVEfmt ", 8);
    s << quint32(16) << quint16(1) << quint16(2) << quint32(rate) << quint32(rate * 4) << quint16(4) << quint16(16);
    s.writeRawData("data", 4);
    s << quint32(data.size());
    support::writeFile(path, h + data);
}

}  // namespace

// Recordings end to end with the real engine: frame, audio and poster runs, and the probes.
class VideoTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString clip() const { return m_dir.path() + "/in/demo.mov"; }
    QString sound() const { return m_dir.path() + "/in/bed.wav"; }

private slots:
    void initTestCase() {
        Engine::setAppDir(PELLMAR_DIR);
        qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
        const QString shot = m_dir.path() + "/in/shot.png";
        // Red above, blue below, to tell which way a thumbnail was turned.
        QImage img(300, 650, QImage::Format_RGB32);
        img.fill(Qt::blue);
        for (int y = 0; y < 325; ++y)
            for (int x = 0; x < 300; ++x) img.setPixel(x, y, qRgb(255, 0, 0));
        QDir().mkpath(m_dir.path() + "/in");
        QVERIFY(img.save(shot));
        const Outcome made = support::runNow({"gen-test", shot, clip(), "--seconds", "0.5", "--fps", "10"});
        QVERIFY2(made.ok(), qPrintable(made.message));
        writeWav(sound(), 1.0);
    }

    void recordingWithSound() {
        auto owner = support::makeStudio(support::caseDir(m_dir), {"square", "square_closeup"});
        Studio& studio = *owner;
        studio.add({clip(), sound()});
        QCOMPARE(studio.audio(), sound());
        QCOMPARE(studio.name(), "demo");
        const QString folder = studio.outputFolder();
        support::writeFile(folder + "/demo_square_spin.mp4", "from an earlier spin render");
        studio.render();
        QTRY_VERIFY_WITH_TIMEOUT(!studio.phase().isRendering(), 60000);
        QCOMPARE(studio.phase().failed, QStringList());
        QCOMPARE(studio.phase().files, 2);
        QCOMPARE(streams(folder + "/demo_square.mp4"), (QStringList{"video", "audio"}));
        QCOMPARE(streams(folder + "/demo_square_closeup.mp4"), (QStringList{"video", "audio"}));
        QVERIFY(!QFile::exists(folder + "/demo_square_spin.mp4"));
        QCOMPARE(support::staging(m_dir.path()), QStringList());
    }

    void posterPreview() {
        const auto [outcome, img] = support::previewNow({clip(), Theme::light, Shape::horizontal});
        QVERIFY2(outcome.ok(), qPrintable(outcome.message));
        QCOMPARE(img.size(), QSize(1920, 1080));
    }

    void probes() {
        const auto thumb = Engine::thumbnailNow(clip(), Kind::video);
        QVERIFY(thumb);
        QCOMPARE(thumb->height(), 240);
        QVERIFY(qAbs(thumb->width() - 111) <= 1);
        const auto seconds = Engine::durationNow(clip());
        QVERIFY(seconds);
        QVERIFY(qAbs(*seconds - 0.5) < 0.05);

        const QString turned = m_dir.path() + "/in/turned.mov";
        QVERIFY(remuxTurned(clip(), turned));
        const auto upright = Engine::thumbnailNow(turned, Kind::video);
        QVERIFY(upright);
        QCOMPARE(upright->width(), 240);
        QVERIFY(qAbs(upright->height() - 111) <= 1);
        // A quarter turn clockwise puts the top of the picture on the right.
        const QColor right = upright->pixelColor(upright->width() - 20, upright->height() / 2);
        const QColor left = upright->pixelColor(20, upright->height() / 2);
        QVERIFY2(right.red() > 150 && right.blue() < 100, qPrintable(right.name()));
        QVERIFY2(left.blue() > 150 && left.red() < 100, qPrintable(left.name()));
    }
};

QTEST_GUILESS_MAIN(VideoTest)
#include "tst_video.moc"
