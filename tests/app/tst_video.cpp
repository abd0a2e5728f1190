#include <QtTest>

#include <QImageReader>

#include "support.h"

extern "C" {
#include <libavformat/avformat.h>
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
        support::writePng(shot, {300, 650});
        bool ended = false;
        Outcome made;
        Engine::run({"gen-test", shot, clip(), "--seconds", "0.5", "--fps", "10"}, makeToken(), this, [&](Outcome o) {
            ended = true;
            made = o;
        });
        QTRY_VERIFY_WITH_TIMEOUT(ended, 20000);
        QVERIFY2(made.ok(), qPrintable(made.message));
        writeWav(sound(), 1.0);
    }

    void recordingWithSound() {
        const QString dir = m_dir.path() + "/studio";
        QDir().mkpath(dir);
        auto* store = new QSettings(dir + "/settings.ini", QSettings::IniFormat);
        store->setValue("shapes", QStringList{"square", "square_closeup"});
        store->setValue("outRoot", dir + "/out");
        Studio studio(store);
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
        QStringList staging = QDir(m_dir.path()).entryList({"trevalo-*"}, QDir::Dirs);
        staging.removeAll("trevalo-preview");
        QCOMPARE(staging, QStringList());
    }

    void posterPreview() {
        bool ended = false;
        Outcome outcome;
        QImage img;
        Engine::preview(clip(), Theme::light, Shape::horizontal, makeToken(), this, [&](Outcome o, QImage i) {
            ended = true;
            outcome = o;
            img = i;
        });
        QTRY_VERIFY_WITH_TIMEOUT(ended, 20000);
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
    }
};

QTEST_GUILESS_MAIN(VideoTest)
#include "tst_video.moc"
