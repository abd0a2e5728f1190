#include <QtTest>

#include "support.h"

using support::readFile;
using support::writeFile;

// Jobs and previews through a stand-in engine that logs its arguments and writes small files.
class PerformTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString tmp() const { return m_dir.path() + "/tmp"; }
    QString out(const QString& name) const { return m_dir.path() + "/out/" + name; }
    QString log() const { return m_dir.path() + "/log"; }
    QString picture() const { return m_dir.path() + "/picture.png"; }

    std::optional<QString> performNow(const Job& job, Token token = makeToken()) {
        bool ended = false;
        std::optional<QString> result;
        Engine::perform(job, token, this, [&](std::optional<QString> r) {
            ended = true;
            result = r;
        });
        if (!QTest::qWaitFor([&] { return ended; }, 20000)) qFatal("job never ended");
        return result;
    }

    QStringList leftovers() const {
        return QDir(tmp()).entryList({"trevalo-*"}, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }
    QStringList calls() const { return QString::fromUtf8(readFile(log())).split(u'\n', Qt::SkipEmptyParts); }

private slots:
    void initTestCase() {
        support::makeBundle(m_dir.path() + "/bin",
                            "echo \"$*\" >> " + log().toUtf8() +
                                "\n"
                                "w=$1; shift\n"
                                "case \"$w\" in\n"
                                "  make) for f in \"$@\"; do printf 'new' > \"$f\"; done ;;\n"
                                "  partial) printf 'new' > \"$1\" ;;\n"
                                "  audio) printf '+sound' >> \"$1\" ;;\n"
                                "  fail) printf 'half' > \"$1\"; echo 'boom: bad input' >&2; exit 1 ;;\n"
                                "  sleep) printf 'half' > \"$1\"; exec sleep 30 ;;\n"
                                "  still|poster) cp " +
                                picture().toUtf8() +
                                " \"$2\" ;;\n"
                                "  garbage) printf 'not a picture' > \"$2\" ;;\n"
                                "esac\n");
        Engine::setAppDir(m_dir.path() + "/bin");
        QDir().mkpath(tmp());
        qputenv("TMPDIR", QFile::encodeName(tmp()));
        QCOMPARE(QDir::tempPath(), tmp());
        support::writePng(picture(), {30, 60});
    }
    void init() {
        QFile::remove(log());
        QDir(m_dir.path() + "/out").removeRecursively();
        writeFile(out("a.png"), "old");
        writeFile(out("b.mp4"), "old");
        writeFile(out("a_spin.mp4"), "stale");
    }

    void deliversOverOutputsAndRemovesStale() {
        const Job job{"/in/a.png",
                      {"make", "{TMP}/a.png", "{TMP}/b.mp4"},
                      {out("a.png"), out("b.mp4")},
                      {},
                      {out("a_spin.mp4"), out("never-there.png")}};
        QCOMPARE(performNow(job), std::nullopt);
        QCOMPARE(readFile(out("a.png")), "new");
        QCOMPARE(readFile(out("b.mp4")), "new");
        QVERIFY(!QFile::exists(out("a_spin.mp4")));
        QCOMPARE(leftovers(), QStringList());
        QVERIFY(calls().first().startsWith("make " + tmp() + "/trevalo-"));
    }

    void soundGoesUnderEachVideoInOrder() {
        const Job job{"/in/a.mov",
                      {"make", "{TMP}/a.png", "{TMP}/b.mp4", "{TMP}/c.mp4", "{TMP}/d.MP4"},
                      {out("a.png"), out("b.mp4"), out("c.mp4"), out("d.MP4")},
                      "/in/bed.mp3",
                      {}};
        QCOMPARE(performNow(job), std::nullopt);
        const QStringList c = calls();
        QCOMPARE(c.size(), 3);
        QVERIFY(c[1].startsWith("audio ") && c[1].endsWith("/b.mp4 /in/bed.mp3"));
        QVERIFY(c[2].endsWith("/c.mp4 /in/bed.mp3"));
        QCOMPARE(readFile(out("c.mp4")), "new+sound");
        QCOMPARE(readFile(out("a.png")), "new");
    }

    void failureLeavesOldOutputs() {
        const Job job{"/in/a.png", {"fail", "{TMP}/a.png"}, {out("a.png")}, {}, {out("a_spin.mp4")}};
        QCOMPARE(performNow(job), QString("boom: bad input"));
        QCOMPARE(readFile(out("a.png")), "old");
        QVERIFY(QFile::exists(out("a_spin.mp4")));
        QCOMPARE(leftovers(), QStringList());
    }

    void missingStagedFileKeepsOldOutput() {
        // The engine claimed success but wrote only its first file: the old second output stays.
        const Job job{"/in/a.png",
                      {"partial", "{TMP}/a.png", "{TMP}/b.mp4"},
                      {out("a.png"), out("b.mp4")},
                      {},
                      {out("a_spin.mp4")}};
        const auto r = performNow(job);
        QVERIFY(r && r->startsWith("cannot deliver b.mp4: "));
        QCOMPARE(readFile(out("b.mp4")), "old");
        QVERIFY(QFile::exists(out("a_spin.mp4")));
        QCOMPARE(leftovers(), QStringList());
    }

    void deliversAcrossFileSystems() {
        if (!QFileInfo("/dev/shm").isWritable()) QSKIP("no second file system to deliver to");
        QTemporaryDir other("/dev/shm/trevalo-test-XXXXXX");
        writeFile(other.path() + "/a.png", "old");
        const Job job{"/in/a.png", {"make", "{TMP}/a.png"}, {other.path() + "/a.png"}, {}, {}};
        QCOMPARE(performNow(job), std::nullopt);
        QCOMPARE(readFile(other.path() + "/a.png"), "new");
        QCOMPARE(QDir(other.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.png"});
        QCOMPARE(leftovers(), QStringList());
    }

    void cancelledDuringRun() {
        auto token = makeToken();
        const Job job{"/in/a.png", {"sleep", "{TMP}/a.png"}, {out("a.png")}, {}, {}};
        QTimer::singleShot(300, this, [token] { token->cancel(); });
        QCOMPARE(performNow(job, token), QString("cancelled"));
        QCOMPARE(readFile(out("a.png")), "old");
        QCOMPARE(leftovers(), QStringList());
    }

    void previewArguments_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<Shape>("shape");
        QTest::addColumn<QString>("expected");
        QTest::newRow("recording") << "/in/clip.MOV" << Shape::vertical
                                   << "poster /in/clip.MOV % --size 1080x1920 --theme light --layout full";
        QTest::newRow("screenshot") << "/in/s.png" << Shape::square_closeup
                                    << "still /in/s.png % --size 1080x1080 --theme light --layout closeup";
    }
    void previewArguments() {
        QFETCH(QString, input);
        QFETCH(Shape, shape);
        QFETCH(QString, expected);
        bool ended = false;
        Outcome outcome;
        QImage img;
        Engine::preview({input, Theme::light, shape}, makeToken(), this, [&](Outcome o, QImage i) {
            ended = true;
            outcome = o;
            img = i;
        });
        QTRY_VERIFY(ended);
        QVERIFY(outcome.ok());
        QCOMPARE(img.size(), QSize(30, 60));
        const QStringList words = calls().first().split(u' ');
        QVERIFY(words[2].startsWith(tmp() + "/trevalo-preview/") && words[2].endsWith(".png"));
        QCOMPARE(QStringList(words).replaceInStrings(words[2], "%").join(u' '), expected);
        QCOMPARE(QDir(tmp() + "/trevalo-preview").entryList(QDir::Files), QStringList());
    }

    // Every argument reaches the engine as its own UTF-8 string, byte for byte.
    void dressedPreviewArgumentsExact() {
        const QString argv = m_dir.path() + "/argv";
        support::makeBundle(m_dir.path() + "/exact", "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > " +
                                                         argv.toUtf8() + "\ncp " + picture().toUtf8() + " \"$3\"\n");
        Engine::setAppDir(m_dir.path() + "/exact");
        const QString title = QString::fromUtf8("\u05e9\u05dc\u05d5\u05dd \"quoted\" $HOME\n\U0001F680 \u00e9t\u00e9");
        PreviewKey key{"/in/s p.png", Theme::dark, Shape::horizontal_closeup};
        key.caption = {title, "  two  spaces "};
        key.place = CaptionPlace::bottom;
        key.backdrop = Backdrop::gradient(0xffffff, 0x000000);
        bool ended = false;
        Engine::preview(key, makeToken(), this, [&](Outcome o, QImage) { ended = o.ok(); });
        QTRY_VERIFY(ended);
        Engine::setAppDir(m_dir.path() + "/bin");
        QList<QByteArray> got = readFile(argv).split('\0');
        QCOMPARE(got.takeLast(), QByteArray());
        got.removeAt(2);  // the scratch file
        QCOMPARE(got, (QList<QByteArray>{"still", "/in/s p.png", "--size", "1920x1080", "--theme", "dark", "--layout",
                                         "closeup", "--title", title.toUtf8(), "--subtitle", "  two  spaces ",
                                         "--caption", "bottom", "--backdrop", "#ffffff,#000000"}));
    }

    void unreadablePreview() {
        support::makeBundle(m_dir.path() + "/garbage", "printf 'not a picture' > \"$3\"\n");
        Engine::setAppDir(m_dir.path() + "/garbage");
        bool ended = false;
        Outcome outcome;
        Engine::preview({"/in/s.png", Theme::dark, Shape::square}, makeToken(), this, [&](Outcome o, QImage) {
            ended = true;
            outcome = o;
        });
        QTRY_VERIFY(ended);
        Engine::setAppDir(m_dir.path() + "/bin");
        QCOMPARE(outcome.message, "could not read the preview");
        QCOMPARE(QDir(tmp() + "/trevalo-preview").entryList(QDir::Files), QStringList());
    }

    void probes() {
        QCOMPARE(Engine::thumbnailNow(m_dir.path() + "/log", Kind::image), std::nullopt);
        QCOMPARE(Engine::thumbnailNow(m_dir.path() + "/nothing.mov", Kind::video), std::nullopt);
        QCOMPARE(Engine::durationNow(m_dir.path() + "/nothing.mov"), std::nullopt);
        const QString big = m_dir.path() + "/big.png";
        support::writePng(big, {600, 1300});
        const auto thumb = Engine::thumbnailNow(big, Kind::image);
        QVERIFY(thumb);
        QCOMPARE(thumb->size(), QSize(111, 240));
        const auto small = Engine::thumbnailNow(picture(), Kind::image);
        QVERIFY(small);
        QCOMPARE(small->size(), QSize(30, 60));  // never enlarged
        QCOMPARE(small->pixelColor(5, 5), QColor(200, 40, 40));
    }
};

QTEST_GUILESS_MAIN(PerformTest)
#include "tst_perform.moc"
