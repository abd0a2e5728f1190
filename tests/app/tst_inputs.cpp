#include <QtTest>

#include "support.h"

using support::makeStudio;
using support::writeFile;

class InputsTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.path() + u'/' + name; }
    std::unique_ptr<Studio> fresh() const { return makeStudio(support::caseDir(m_dir)); }

private slots:
    void folderAddsPicturesInByteOrder() {
        auto studio = fresh();
        for (const char* n : {"b.png", "A.mov", "a.png", "notes.txt", "song.mp3", ".hidden.png"})
            writeFile(path("drop/") + n, "x");
        QDir().mkpath(path("drop/sub.png"));
        QSignalSpy notices(studio.get(), &Studio::noticeChanged);
        studio->add({path("drop")});
        QStringList got;
        for (const Input& i : studio->inputs()) got << QFileInfo(i.path).fileName();
        QCOMPARE(got, (QStringList{"A.mov", "a.png", "b.png"}));
        QCOMPARE(studio->inputs().first().kind, Kind::video);
        QCOMPARE(studio->audio(), QString());
        QCOMPARE(notices.count(), 0);
        QCOMPARE(studio->selected(), path("drop/A.mov"));
        QCOMPARE(studio->name(), "A");

        studio->add({path("drop/a.png")});
        QCOMPARE(studio->inputs().size(), 3);
    }

    void skippedNotices() {
        auto studio = fresh();
        studio->add({path("x.txt")});
        QCOMPARE(studio->notice(), "Skipped x.txt — not a screenshot, recording or sound");
        studio->add({path("a.txt"), path("b"), path("c.doc"), path("ok.png")});
        QCOMPARE(studio->notice(), "Skipped 3 files — not screenshots, recordings or sounds");
        QCOMPARE(studio->inputs().size(), 1);
    }

    void soundWithScreenshots() {
        auto studio = fresh();
        writeFile(path("one.mp3"), "x");
        writeFile(path("two.wav"), "x");
        studio->add({path("s1.png"), path("one.mp3"), path("s2.jpg"), path("two.wav")});
        QCOMPARE(studio->inputs().size(), 2);
        QCOMPARE(studio->audio(), path("two.wav"));
        QVERIFY(studio->notice().isEmpty());
    }

    // A trailing counter goes, then a trailing screenshot or recording word; a stem that
    // would be left empty stays whole.
    void defaultName() {
        const std::pair<const char*, const char*> rows[] = {{"Login_Screenshot_2.png", "Login_Screenshot"},
                                                            {"login-screenshot.png", "login"},
                                                            {"screenshot.png", "screenshot"},
                                                            {"demo_rec_12.mov", "demo"},
                                                            {"_rec.mov", "_rec"},
                                                            {"app.shot.png", "app"},
                                                            {"plain", "plain"},
                                                            {"a_1b.png", "a_1b"}};
        for (const auto& [file, name] : rows) QCOMPARE(Studio::defaultName(file), QString(name));
    }

    void folderName() {
        auto studio = fresh();
        for (const auto& [name, folder] :
             {std::pair{" ..a/b:c ", "a-b-c"}, {"...", "trevalo"}, {"", "trevalo"}, {"v1.2", "v1.2"}}) {
            studio->setName(name);
            QCOMPARE(studio->folderName(), QString(folder));
        }
    }

    void nameFollowsFirstInputUntilTyped() {
        auto studio = fresh();
        studio->add({path("home_shot.png"), path("b.png")});
        QCOMPARE(studio->name(), "home");
        studio->remove(studio->inputs().first());
        QCOMPARE(studio->name(), "b");
        studio->setName("Launch");
        studio->add({path("c.png")});
        QCOMPARE(studio->name(), "Launch");
        studio->remove(studio->inputs()[0]);
        studio->remove(studio->inputs()[0]);
        QVERIFY(!studio->nameEdited());
        QCOMPARE(studio->name(), QString());
    }

    void stepWrapsAndRemoveSelects() {
        auto studio = fresh();
        studio->add({path("1.png"), path("2.png"), path("3.png")});
        studio->step(-1);
        QCOMPARE(studio->selected(), path("3.png"));
        studio->step(+1);
        QCOMPARE(studio->selected(), path("1.png"));
        studio->step(-7);
        QCOMPARE(studio->selected(), path("3.png"));
        studio->setSelected(path("2.png"));
        studio->removeSelected();
        QCOMPARE(studio->selected(), path("1.png"));
        QCOMPARE(studio->inputs().size(), 2);
    }

    void captionsBelongToTheirInput() {
        auto studio = fresh();
        studio->add({path("a.png"), path("b.mov")});
        QSignalSpy spy(studio.get(), &Studio::captionsChanged);
        studio->setCaption(path("a.png"), {"Alpha", "first"});
        studio->setCaption(path("b.mov"), {"Beta", ""});
        studio->setCaption(path("b.mov"), {"Beta", ""});
        studio->setCaption(path("gone.png"), {"Nobody's", ""});
        QCOMPARE(spy.count(), 2);
        QCOMPARE(studio->caption(path("a.png")), (Caption{"Alpha", "first"}));
        QCOMPARE(studio->caption(path("b.mov")), (Caption{"Beta", ""}));
        QCOMPARE(studio->caption(path("gone.png")), Caption{});

        // Removed with its input: the same file dropped again starts untitled.
        studio->remove(studio->inputs().first());
        QCOMPARE(spy.count(), 3);
        studio->add({path("a.png")});
        QCOMPARE(studio->caption(path("a.png")), Caption{});
        QCOMPARE(studio->caption(path("b.mov")), (Caption{"Beta", ""}));
    }

    void lastShapeStaysAndPreviewShapeFollows() {
        auto studio = fresh();
        studio->toggle(Shape::square_closeup);
        studio->toggle(Shape::vertical);
        QCOMPARE(studio->previewShape(), Shape::horizontal);
        studio->toggle(Shape::horizontal);
        studio->toggle(Shape::square);
        QSignalSpy spy(studio.get(), &Studio::settingsChanged);
        studio->toggle(Shape::square_closeup);
        QCOMPARE(studio->orderedShapes(), QList<Shape>{Shape::square_closeup});
        QCOMPARE(spy.count(), 0);
        QCOMPARE(studio->previewShape(), Shape::square_closeup);
    }

    void noticeClearsAfterFourSeconds() {
        auto studio = fresh();
        studio->say("first");
        QTest::qWait(1000);
        studio->say("second");  // a newer notice gets its full time
        QTest::qWait(3300);
        QCOMPARE(studio->notice(), "second");
        QTRY_COMPARE_WITH_TIMEOUT(studio->notice(), QString(), 1500);
    }
};

QTEST_GUILESS_MAIN(InputsTest)
#include "tst_inputs.moc"
