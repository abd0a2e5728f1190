#include <QtTest>

#include <QImageReader>

#include "support.h"

using support::readFile;
using support::writeFile;

// Renders end to end with the real `pellmar still` of the build tree.
class RenderTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString in(const QString& name) const { return m_dir.path() + "/in/" + name; }

    std::unique_ptr<Studio> fresh() {
        auto s = support::makeStudio(support::caseDir(m_dir), {"square", "square_closeup"});
        s->setName("Launch");
        return s;
    }
    static bool settled(const Studio& s) { return !s.phase().isRendering(); }
    QStringList staging() const { return support::staging(m_dir.path()); }

private slots:
    void initTestCase() {
        Engine::setAppDir(PELLMAR_DIR);
        QVERIFY2(!Engine::enginePath().isEmpty(), PELLMAR_DIR);
        qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
        support::writePng(in("shot.png"), {300, 650});
        support::writePng(in("other.png"), {300, 650}, Qt::blue);
        writeFile(in("bad.png"), "not a picture");
    }

    void blankPlaceholderPreviews() {
        auto studio = fresh();
        const bool pending = Studio::blank().isEmpty();
        QSignalSpy keys(studio.get(), &Studio::previewKeyChanged);
        QTRY_VERIFY(!Studio::blank().isEmpty());
        if (pending) QTRY_COMPARE(keys.count(), 1);  // the canvas learns that there is a picture
        const QString blank = Studio::blank();
        QCOMPARE(blank, QDir(m_dir.path()).filePath("trevalo-blank.png"));
        const QImage img(blank);
        QCOMPARE(img.size(), QSize(1206, 2622));
        QCOMPARE(img.pixelColor(3, 3), QColor(15, 15, 15));
        // The "//" sits around 53 % of the height from the bottom, centred across.
        int lit = 0;
        for (int y = 0; y < img.height(); y += 4)
            for (int x = 0; x < img.width(); x += 4)
                if (qGray(img.pixel(x, y)) > 60) {
                    ++lit;
                    QVERIFY(qAbs(x - 603) < 300 && qAbs(y - 1232) < 250);
                }
        QVERIFY(lit > 100);

        QCOMPARE(studio->previewKey(), (PreviewKey{blank, Theme::dark, Shape::square}));
        studio->restartPreview();
        QTRY_VERIFY_WITH_TIMEOUT(studio->shown().has_value(), 20000);
        QCOMPARE(studio->preview().size(), QSize(1080, 1080));
        QCOMPARE(studio->previewError(), QString());
    }

    void deliversWithProgressAndSummary() {
        auto studio = fresh();
        studio->add({in("shot.png")});
        const QString folder = studio->outputFolder();
        writeFile(folder + "/shot_square_spin.mp4", "from an earlier spin render");
        QList<Phase> seen;
        connect(studio.get(), &Studio::phaseChanged, this, [&] { seen << studio->phase(); });
        QSignalSpy attention(studio.get(), &Studio::attentionRequested);
        studio->render();
        QVERIFY(!studio->canRender());
        QTRY_VERIFY_WITH_TIMEOUT(settled(*studio), 30000);

        QCOMPARE(seen.size(), 4);
        QCOMPARE(seen[0], Phase::rendering(0, 2));
        QCOMPARE(seen[2], Phase::rendering(2, 2));
        const Phase end = studio->phase();
        QCOMPARE(end.kind, Phase::Case::finished);
        QCOMPARE(end.files, 2);
        QCOMPARE(end.failed, QStringList());
        QCOMPARE(end.folder, support::caseDir(m_dir) + "/out/Launch_trevalo");
        QCOMPARE(QImageReader(folder + "/shot_square.png").size(), QSize(2160, 2160));
        QCOMPARE(QImageReader(folder + "/shot_square_closeup.png").size(), QSize(2160, 2160));
        QVERIFY(!QFile::exists(folder + "/shot_square_spin.mp4"));
        QCOMPARE(staging(), QStringList());
        QCOMPARE(attention.count(), QGuiApplication::applicationState() == Qt::ApplicationActive ? 0 : 1);

        studio->setTheme(Theme::light);  // any change clears the summary
        QCOMPARE(studio->phase(), Phase::idle());
    }

    void failingInputKeepsItsOldOutputs() {
        auto studio = fresh();
        studio->add({in("bad.png"), in("shot.png")});
        const QString folder = studio->outputFolder();
        writeFile(folder + "/bad_square.png", "old");
        studio->render();
        QTRY_VERIFY_WITH_TIMEOUT(settled(*studio), 30000);
        const Phase end = studio->phase();
        QCOMPARE(end.files, 2);
        QCOMPARE(end.failed, QStringList{"bad.png — cannot read image: " + in("bad.png")});
        QCOMPARE(readFile(folder + "/bad_square.png"), "old");
        QVERIFY(!QFile::exists(folder + "/bad_square_closeup.png"));
    }

    void cancellingDeliversNothing() {
        auto studio = fresh();
        studio->add({in("shot.png"), in("other.png")});
        studio->render();
        QTRY_VERIFY(Engine::liveCount() > 0);
        studio->cancelRender();
        QTRY_VERIFY_WITH_TIMEOUT(settled(*studio), 30000);
        QCOMPARE(studio->phase(), Phase::idle());
        QCOMPARE(QDir(studio->outputFolder()).entryList(QDir::Files), QStringList());
        QTRY_COMPARE(staging(), QStringList());
        QVERIFY(studio->canRender());
    }

    void outputFolderNotCreatable() {
        auto studio = fresh();
        writeFile(m_dir.path() + "/a-file", "x");
        studio->setOutRoot(m_dir.path() + "/a-file");
        studio->add({in("shot.png")});
        studio->render();
        QTRY_VERIFY(settled(*studio));
        const QString folder = m_dir.path() + "/a-file/Launch_trevalo";
        QCOMPARE(studio->phase(), Phase::finished(0, {"cannot create " + folder}, 0, folder));
    }

    // The window's caption and backdrop through the real engine: the chosen base at the corners,
    // and a title band above the device that the untitled output does not have.
    void captionAndBackdropRender() {
        auto studio = fresh();
        studio->toggle(Shape::square_closeup);
        studio->add({in("shot.png")});
        studio->setBackdrop(Backdrop::solid(0x1b3a6b));
        // The test's checks return from the test itself, so each render is waited for here.
        auto output = [&] {
            return QImage(studio->outputFolder() + "/shot_square.png").convertToFormat(QImage::Format_RGB32);
        };
        studio->render();
        QTRY_VERIFY_WITH_TIMEOUT(settled(*studio), 30000);
        QCOMPARE(studio->phase().failed, QStringList());
        const QImage plain = output();
        studio->setCaption(in("shot.png"), {"Plan your week", "in one glance"});
        studio->render();
        QTRY_VERIFY_WITH_TIMEOUT(settled(*studio), 30000);
        QCOMPARE(studio->phase().failed, QStringList());
        const QImage titled = output();
        QCOMPARE(titled.size(), QSize(2160, 2160));
        for (QPoint corner : {QPoint(2, 2), QPoint(2157, 2), QPoint(2, 2157), QPoint(2157, 2157)}) {
            const QColor c = titled.pixelColor(corner);
            QVERIFY2(qAbs(c.red() - 0x1b) < 14 && qAbs(c.green() - 0x3a) < 14 && qAbs(c.blue() - 0x6b) < 14,
                     qPrintable(c.name()));
        }
        // Ink in the top fifth: light text on the deep blue, only where a title was asked for.
        auto ink = [](const QImage& img) {
            int n = 0;
            for (int y = 0; y < img.height() / 5; y += 2)
                for (int x = 0; x < img.width(); x += 2) n += qGray(img.pixel(x, y)) > 160;
            return n;
        };
        QCOMPARE(ink(plain), 0);
        QVERIFY(ink(titled) > 500);
    }
};

QTEST_MAIN(RenderTest)
#include "tst_render.moc"
