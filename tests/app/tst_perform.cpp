#include <QtTest>

#include "support.h"

using support::performNow;
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

    // However a job ends short, what it did not deliver stays as it was, stale outputs included,
    // and its staging goes.
    void unfinishedJobKeepsOldOutputs_data() {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("message");  // how it starts
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("engine failed") << "fail"
                                       << "boom: bad input" << QStringList{"a.png", "b.mp4"};
        // The engine claimed success but wrote only its first file.
        QTest::newRow("staged file missing") << "partial"
                                             << "cannot deliver b.mp4: " << QStringList{"b.mp4"};
        QTest::newRow("cancelled while running") << "sleep"
                                                 << "cancelled" << QStringList{"a.png", "b.mp4"};
    }
    void unfinishedJobKeepsOldOutputs() {
        QFETCH(QString, word);
        QFETCH(QString, message);
        QFETCH(QStringList, kept);
        auto token = makeToken();
        if (word == "sleep") QTimer::singleShot(300, this, [token] { token->cancel(); });
        const Job job{
            "/in/a.png", {word, "{TMP}/a.png", "{TMP}/b.mp4"}, {out("a.png"), out("b.mp4")}, {}, {out("a_spin.mp4")}};
        const auto r = performNow(job, token);
        QVERIFY2(r && r->startsWith(message), qPrintable(r.value_or("(delivered)")));
        for (const QString& name : kept) QCOMPARE(readFile(out(name)), "old");
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

    // A recording previews through its poster frame; the scratch picture goes once read.
    void recordingPreviewsItsPoster() {
        const auto [outcome, img] = support::previewNow({"/in/clip.MOV", Theme::light, Shape::vertical});
        QVERIFY(outcome.ok());
        QCOMPARE(img.size(), QSize(30, 60));
        const QStringList words = calls().first().split(u' ');
        QVERIFY(words[2].startsWith(tmp() + "/trevalo-preview/") && words[2].endsWith(".png"));
        QCOMPARE(QStringList(words).replaceInStrings(words[2], "%").join(u' '),
                 "poster /in/clip.MOV % --size 1080x1920 --theme light --layout full");
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
        const bool ok = support::previewNow(key).first.ok();
        Engine::setAppDir(m_dir.path() + "/bin");
        QVERIFY(ok);
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
        const Outcome outcome = support::previewNow({"/in/s.png", Theme::dark, Shape::square}).first;
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
