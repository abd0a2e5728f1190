#include <QtTest>

#include "support.h"

// Previews, their cache and warm-up, through a stand-in engine that logs each run.
class PreviewTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString log() const { return m_dir.path() + "/log"; }
    QString picture() const { return m_dir.path() + "/picture.png"; }
    QStringList calls() const { return QString::fromUtf8(support::readFile(log())).split(u'\n', Qt::SkipEmptyParts); }
    // "size theme" of every engine run so far: enough to tell the variants apart.
    QStringList variants() const {
        QStringList out;
        for (const QString& c : calls()) {
            const QStringList w = c.split(u' ');
            out << w[4] + u' ' + w[6];
        }
        return out;
    }
    std::unique_ptr<Studio> fresh(const QStringList& shapes = {}) {
        return support::makeStudio(support::caseDir(m_dir), shapes);
    }

private slots:
    void initTestCase() {
        support::makeBundle(m_dir.path() + "/bin", "echo \"$*\" >> " + log().toUtf8() +
                                                       "\n"
                                                       "case \"$2\" in\n"
                                                       "  *bad*) echo \"cannot open $2\" >&2; exit 1 ;;\n"
                                                       "  *slow*) exec sleep 30 ;;\n"
                                                       "esac\n"
                                                       "cp " +
                                                       picture().toUtf8() + " \"$3\"\n");
        Engine::setAppDir(m_dir.path() + "/bin");
        qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
        support::writePng(picture(), {27, 48});
    }
    void init() { QFile::remove(log()); }

    void warmUpOrder() {
        auto studio = fresh();
        studio->add({"/in/home.png"});
        QSignalSpy changed(studio.get(), &Studio::previewChanged);
        studio->restartPreview();
        QVERIFY(studio->previewLoading() == false);  // still inside the debounce
        QTRY_VERIFY(studio->shown().has_value());
        QCOMPARE(*studio->shown(), (PreviewKey{"/in/home.png", Theme::dark, Shape::vertical}));
        QCOMPARE(studio->preview().size(), QSize(27, 48));
        QVERIFY(!studio->previewLoading());
        QTRY_COMPARE(studio->cacheOrder().size(), 4);
        QCOMPARE(variants(), (QStringList{"1080x1920 dark", "1080x1920 light", "1920x1080 dark", "1080x1080 dark"}));
        QCOMPARE(studio->cacheOrder()[1], (PreviewKey{"/in/home.png", Theme::light, Shape::vertical}));

        // The light variant is cached: it shows without an engine run, and the warm-up then
        // fills in the other shapes in the light theme.
        QFile::remove(log());
        studio->setTheme(Theme::light);
        studio->restartPreview();
        QTRY_COMPARE(studio->shown()->theme, Theme::light);
        QTRY_COMPARE(variants(), (QStringList{"1920x1080 light", "1080x1080 light"}));
    }

    void rapidChangesRunOnlyTheLast() {
        auto studio = fresh({"vertical", "square"});
        studio->add({"/in/home.png"});
        studio->setPreviewShape(Shape::square);
        studio->restartPreview();
        studio->setPreviewShape(Shape::vertical);
        studio->restartPreview();
        QTRY_COMPARE(studio->cacheOrder().size(), 3);
        QCOMPARE(variants().first(), "1080x1920 dark");
        QCOMPARE(variants().count("1080x1080 dark"), 1);  // only as the last warm-up entry
        QCOMPARE(variants().last(), "1080x1080 dark");
    }

    void newerPreviewStopsTheRunningEngine() {
        auto studio = fresh({"vertical"});
        studio->add({"/in/slow.png", "/in/home.png"});
        studio->restartPreview();
        QTRY_COMPARE(calls().size(), 1);
        QVERIFY(studio->previewLoading());
        QCOMPARE(Engine::liveCount(), 1);
        studio->setSelected("/in/home.png");
        studio->restartPreview();
        QTRY_COMPARE(studio->shown()->path, "/in/home.png");
        QTRY_COMPARE(Engine::liveCount(), 0);
        QVERIFY(!studio->isCached({"/in/slow.png", Theme::dark, Shape::vertical}));
        QVERIFY(studio->previewError().isEmpty());
    }

    void errorKeepsLastPicture() {
        auto studio = fresh({"vertical"});
        studio->add({"/in/home.png", "/in/bad.png"});
        studio->restartPreview();
        QTRY_VERIFY(studio->shown().has_value());
        studio->setSelected("/in/bad.png");
        studio->restartPreview();
        QTRY_COMPARE(studio->previewError(), "cannot open /in/bad.png");
        QCOMPARE(studio->shown()->path, "/in/home.png");
        QVERIFY(!studio->preview().isNull());
        QVERIFY(!studio->previewLoading());
        studio->setSelected("/in/home.png");
        studio->restartPreview();
        QTRY_VERIFY(studio->previewError().isEmpty());
    }

    void cacheEvictsOldestFirst() {
        auto studio = fresh({"vertical"});
        const auto key = [](int i) {
            return PreviewKey{"/in/" + QString::number(i) + ".png", Theme::dark, Shape::vertical};
        };
        for (int i = 0; i < 17; ++i) {
            bool done = false;
            studio->picture(key(i), makeToken(), [&](Outcome o, QImage) { done = o.ok(); });
            QTRY_VERIFY(done);
            if (i == 0) {
                // A hit does not make an entry younger.
                bool hit = false;
                studio->picture(key(0), makeToken(), [&](Outcome, QImage) { hit = true; });
                QTRY_VERIFY(hit);
            }
        }
        QCOMPARE(calls().size(), 17);
        QCOMPARE(studio->cacheOrder().size(), 16);
        QCOMPARE(studio->cacheOrder().first(), key(1));
        QVERIFY(!studio->isCached(key(0)));
        QVERIFY(studio->isCached(key(16)));
    }

    void keyFollowsSelectionThemeAndShape() {
        auto studio = fresh();
        QSignalSpy spy(studio.get(), &Studio::previewKeyChanged);
        studio->add({"/in/a.png", "/in/b.png"});
        studio->setTheme(Theme::light);
        studio->setPreviewShape(Shape::square);
        studio->step(1);
        QCOMPARE(spy.count(), 4);
        QCOMPARE(studio->previewKey(), (PreviewKey{"/in/b.png", Theme::light, Shape::square}));
    }

    void keyChangesWithEveryPartOfTheDress() {
        auto studio = fresh();
        studio->add({"/in/a.png", "/in/b.png"});
        QSignalSpy spy(studio.get(), &Studio::previewKeyChanged);
        QSet<PreviewKey> keys{*studio->previewKey()};
        // Without a title neither the place nor a subtitle changes the picture, nor the key.
        studio->setCaptionPlace(CaptionPlace::bottom);
        studio->setCaption("/in/a.png", {"", "sub"});
        studio->setCaption("/in/b.png", {"Other input", ""});
        QCOMPARE(spy.count(), 0);

        studio->setCaption("/in/a.png", {"Title", "sub"});
        keys << *studio->previewKey();
        studio->setCaption("/in/a.png", {"Title", "sub\ntwo"});
        keys << *studio->previewKey();
        studio->setCaptionPlace(CaptionPlace::top);
        keys << *studio->previewKey();
        studio->setBackdrop(Backdrop::solid(0x1b3a6b));
        keys << *studio->previewKey();
        studio->setBackdrop(Backdrop::gradient(0x1b3a6b, 0x0d1b33));
        keys << *studio->previewKey();
        QCOMPARE(spy.count(), 5);
        QCOMPARE(keys.size(), 6);
        QCOMPARE(studio->previewKey()->caption, (Caption{"Title", "sub\ntwo"}));

        // Each input shows its own caption.
        studio->setSelected("/in/b.png");
        QCOMPARE(studio->previewKey()->caption.title, "Other input");
        QCOMPARE(studio->previewKey()->place, CaptionPlace::top);
    }

    void typingWaitsForAPause() {
        auto studio = fresh({"vertical"});
        studio->add({"/in/home.png"});
        connect(studio.get(), &Studio::previewKeyChanged, studio.get(), &Studio::restartPreview);
        studio->restartPreview();
        QTRY_COMPARE(calls().size(), 2);  // the preview and its other theme
        QFile::remove(log());
        // Letters faster than the typing pause but slower than the debounce of other changes.
        for (const char* t : {"P", "Pl", "Pla", "Plan"}) {
            studio->setCaption("/in/home.png", {t, ""});
            QTest::qWait(Studio::debounceMs * 2);
        }
        QTRY_COMPARE(studio->shown()->caption.title, "Plan");
        QTRY_COMPARE(calls().size(), 2);
        for (const QString& c : calls())
            QVERIFY2(c.endsWith("--layout full --title Plan --caption top"), qPrintable(c));
    }

    void thumbnailsOncePerInput() {
        auto studio = fresh();
        const QString shot = m_dir.path() + "/shot.png";
        support::writePng(shot, {480, 960});
        studio->add({shot, m_dir.path() + "/missing.png"});
        QSignalSpy spy(studio.get(), &Studio::thumbsChanged);
        for (const Input& i : studio->inputs()) studio->loadThumb(i);
        studio->loadThumb(studio->inputs().first());
        QTRY_COMPARE(spy.count(), 1);
        QTest::qWait(100);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(studio->thumbs().value(shot).size(), QSize(120, 240));
        QVERIFY(!studio->thumbs().contains(m_dir.path() + "/missing.png"));
        studio->remove(studio->inputs().first());
        QVERIFY(studio->thumbs().isEmpty());
    }
};

QTEST_GUILESS_MAIN(PreviewTest)
#include "tst_preview.moc"
