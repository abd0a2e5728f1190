#include <QtTest>

#include "support.h"

class PlanTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString root() const { return m_dir.path() + "/out"; }

    std::unique_ptr<Studio> studio(const QStringList& shapes) {
        auto s = support::makeStudio(support::caseDir(m_dir), shapes);
        s->setOutRoot(root());
        s->setName("App");
        return s;
    }

private slots:
    void screenshotFlat() {
        auto s = studio({"vertical", "square"});
        s->add({"/in/home.png"});
        const QList<Job> jobs = s->plan();
        QCOMPARE(jobs.size(), 2);
        const QString out = root() + "/App_trevalo/";
        QCOMPARE(jobs[0], (Job{"/in/home.png",
                               {"still", "/in/home.png", "{TMP}/home_vertical.png", "--size", "2160x3840", "--theme",
                                "dark", "--layout", "full"},
                               {out + "home_vertical.png"},
                               {},
                               {out + "home_vertical_spin.mp4"}}));
        QCOMPARE(jobs[1].args[4], "2160x2160");
        QCOMPARE(jobs[1].outputs, QStringList{out + "home_square.png"});
        QCOMPARE(jobs[1].stale, QStringList{out + "home_square_spin.mp4"});
    }

    void screenshotSpinCarriesSound() {
        auto s = studio({"square_closeup", "vertical"});
        support::writeFile(m_dir.path() + "/bed.mp3", "x");
        s->add({"/in/home.png", m_dir.path() + "/bed.mp3"});
        s->setSpin(true);
        s->setTheme(Theme::light);
        const QList<Job> jobs = s->plan();
        QCOMPARE(jobs.size(), 2);
        const QString out = root() + "/App_trevalo/";
        QCOMPARE(jobs[0].args, (QStringList{"spin", "/in/home.png", "{TMP}/home_vertical_spin.mp4", "--size",
                                            "1080x1920", "--theme", "light", "--layout", "full"}));
        QCOMPARE(jobs[1].args.mid(2), (QStringList{"{TMP}/home_square_closeup_spin.mp4", "--size", "1080x1080",
                                                   "--theme", "light", "--layout", "closeup"}));
        QCOMPARE(jobs[0].audio, m_dir.path() + "/bed.mp3");
        QCOMPARE(jobs[1].stale, QStringList{out + "home_square_closeup.png"});
    }

    void recordingOneJobAllShapes_data() {
        QTest::addColumn<bool>("spin");
        QTest::newRow("flat") << false;
        QTest::newRow("spin") << true;
    }
    void recordingOneJobAllShapes() {
        QFETCH(bool, spin);
        auto s = studio({"horizontal_closeup", "vertical"});
        s->setSpin(spin);
        s->add({"/in/shot.png", "/in/demo.mov"});
        const QList<Job> jobs = s->plan();
        QCOMPARE(jobs.size(), 3);  // the recording leads though it was dropped second
        const QString end = spin ? "_spin.mp4" : ".mp4", other = spin ? ".mp4" : "_spin.mp4";
        const QString out = root() + "/App_trevalo/";
        QCOMPARE(jobs[0].args,
                 (QStringList{"frame", "/in/demo.mov", "--theme", "dark", "--out", "{TMP}/demo_vertical" + end,
                              "1080x1920", spin ? "spin" : "full", "--out", "{TMP}/demo_horizontal_closeup" + end,
                              "1920x1080", spin ? "closeup_spin" : "closeup"}));
        QCOMPARE(jobs[0].outputs, (QStringList{out + "demo_vertical" + end, out + "demo_horizontal_closeup" + end}));
        QCOMPARE(jobs[0].stale, (QStringList{out + "demo_vertical" + other, out + "demo_horizontal_closeup" + other}));
        QCOMPARE(jobs[1].source, "/in/shot.png");
    }

    // Each input's own caption on every job of it, flat and turning; the backdrop on all of them.
    void captionsAndBackdropReachEveryJob() {
        auto s = studio({"vertical", "square"});
        s->add({"/in/home.png", "/in/demo.mov", "/in/plain.png"});
        // Right to left, a non-breaking space, a character outside the BMP, a line feed.
        const QString title =
            QString::fromUtf8("Plan your week\n\u0645\u0631\u062d\u0628\u0627\u00a0\U0001F680 \u65e5\u672c");
        s->setCaption("/in/home.png", {title, "in \"one\" glance"});
        s->setCaption("/in/demo.mov", {"Watch", ""});
        s->setCaption("/in/elsewhere.png", {"not an input", ""});
        s->setCaptionPlace(CaptionPlace::bottom);
        s->setBackdrop(*Backdrop::fromText("#1B3A6B,#0d1b33"));
        const QStringList backdrop{"--backdrop", "#1b3a6b,#0d1b33"};
        const QStringList home =
            QStringList{"--title", title, "--subtitle", "in \"one\" glance", "--caption", "bottom"};

        for (bool spin : {false, true}) {
            s->setSpin(spin);
            const QList<Job> jobs = s->plan();
            QCOMPARE(jobs.size(), 5);
            // The recording's outputs share one pass, and so one caption, given before the groups.
            QCOMPARE(jobs[0].args.mid(0, 10), (QStringList{"frame", "/in/demo.mov", "--theme", "dark", "--title",
                                                           "Watch", "--caption", "bottom"} +
                                               backdrop));
            QCOMPARE(jobs[0].args.count("--out"), 2);
            QCOMPARE(jobs[0].args.count("--title"), 1);
            for (int i : {1, 2}) QCOMPARE(jobs[i].args.mid(9), home + backdrop);
            for (int i : {3, 4}) QCOMPARE(jobs[i].args.mid(9), backdrop);
            QCOMPARE(jobs[1].args[0], spin ? "spin" : "still");
        }

        // Taking the caption away gives back today's arguments, word for word.
        s->setCaption("/in/home.png", {});
        s->setBackdrop({});
        s->setSpin(false);
        QCOMPARE(s->plan()[1].args.size(), 9);
    }

    void baseNamesUniqueIgnoringCase() {
        auto s = studio({"square"});
        s->add({"/x/a.png", "/y/A.png", "/z/a.mov", "/z/a-2.png"});
        QStringList outs;
        for (const Job& j : s->plan()) outs << QFileInfo(j.outputs.first()).fileName();
        // a.mov is planned first but named after the screenshots that came before it.
        QCOMPARE(outs, (QStringList{"a-3_square.mp4", "a_square.png", "A-2_square.png", "a-2-2_square.png"}));
    }

    void nothingToPlan() { QVERIFY(studio({"square"})->plan().isEmpty()); }
};

QTEST_GUILESS_MAIN(PlanTest)
#include "tst_plan.moc"
