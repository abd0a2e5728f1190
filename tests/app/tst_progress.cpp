#include <QtTest>

#include "support.h"

// The render run's bookkeeping, against a stand-in engine that writes whatever it is asked to.
class ProgressTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString in(const QString& name) const { return m_dir.path() + "/in/" + name; }

    std::unique_ptr<Studio> fresh(const QStringList& shapes) {
        return support::makeStudio(support::caseDir(m_dir), shapes);
    }

private slots:
    void initTestCase() {
        support::makeBundle(m_dir.path() + "/bin",
                            "sleep 0.2\n"
                            "if [ \"$1\" = frame ]; then\n"
                            "  case \"$*\" in *--progress*) echo progress 1 4; sleep .2; echo progress 3 4 ;; esac\n"
                            "  while [ $# -gt 0 ]; do [ \"$1\" = --out ] && printf v > \"$2\"; shift; done\n"
                            "else printf s > \"$3\"; fi\n");
        Engine::setAppDir(m_dir.path() + "/bin");
        qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
    }

    void recordingCountsAllItsOutputsAtOnce() {
        auto studio = fresh({"vertical", "horizontal", "square"});
        studio->add({in("shot.png"), in("demo.mov")});
        QList<Phase> seen;
        int mostAtOnce = 0;
        connect(studio.get(), &Studio::phaseChanged, this, [&] { seen << studio->phase(); });
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, this, [&] { mostAtOnce = std::max(mostAtOnce, Engine::liveCount()); });
        sampler.start(20);
        studio->render();
        QTRY_VERIFY_WITH_TIMEOUT(!studio->phase().isRendering(), 20000);

        QCOMPARE(seen.first(), Phase::rendering(0, 6));
        QCOMPARE(studio->phase().files, 6);
        QCOMPARE(QDir(studio->outputFolder()).entryList(QDir::Files).size(), 6);
        // The recording's one job advances by its three outputs at once, each screenshot job by one.
        QList<int> steps;
        for (qsizetype i = 1; i < seen.size() && seen[i].isRendering(); ++i)
            if (seen[i].done != seen[i - 1].done) steps << seen[i].done - seen[i - 1].done;
        std::sort(steps.begin(), steps.end());
        QCOMPARE(steps, (QList<int>{1, 1, 1, 3}));
        // In between, the recording's frames move the fraction on, which never goes back.
        QVERIFY(std::any_of(seen.begin(), seen.end(), [](const Phase& p) { return p.partial > 0; }));
        for (qsizetype i = 1; i < seen.size() && seen[i].isRendering(); ++i)
            QVERIFY(seen[i].fraction() >= seen[i - 1].fraction());
        QVERIFY(mostAtOnce >= 2);
        QVERIFY(mostAtOnce <= std::max(2, QThread::idealThreadCount()));
    }

    void cancelBeforeTheFirstJob() {
        auto studio = fresh({"square"});
        studio->add({in("good.png")});
        studio->render();
        studio->cancelRender();
        QTRY_COMPARE(studio->phase(), Phase::idle());
        QVERIFY(!QFileInfo::exists(studio->outputFolder() + "/good_square.png"));
    }
};

QTEST_GUILESS_MAIN(ProgressTest)
#include "tst_progress.moc"
