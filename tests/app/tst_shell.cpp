#include <QtTest>

#include "support.h"
#include "TrevaloApp/shell.h"
#include "Views/canvas.h"
#include "Views/content.h"
#include "Views/sidebar.h"

#include <QMenu>

// The shell: menu shortcuts and their disabled rules, the developer hooks, the end of engines at
// quitting, and files handed over by a second launch.
class ShellTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString in(const QString& name) const { return m_dir.path() + "/in/" + name; }

    std::unique_ptr<Studio> fresh(const QStringList& shapes) {
        return support::makeStudio(support::caseDir(m_dir), shapes);
    }

    static QProcessEnvironment env(std::initializer_list<std::pair<const char*, const char*>> vars) {
        QProcessEnvironment e;
        for (const auto& [k, v] : vars) e.insert(k, v);
        return e;
    }

private slots:
    void initTestCase() {
        // An engine that records its process id and then runs until it is stopped.
        support::makeBundle(m_dir.path() + "/bin", "echo $$ >> \"" + QFile::encodeName(m_dir.path()) +
                                                       "/pids\"\n"
                                                       "exec sleep 30\n");
        Engine::setAppDir(m_dir.path() + "/bin");
        qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
    }

    void previewDigitsFollowChosenShapes() {
        auto studio = fresh({"horizontal", "square"});
        MainWindow w(*studio);
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        const QList<QAction*> items = w.previewMenu()->actions();
        QCOMPARE(items.size(), 2);

        QTest::keyClick(&w, Qt::Key_2, Qt::ControlModifier);
        QCOMPARE(studio->previewShape(), Shape::square);
        QTest::keyClick(&w, Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(studio->previewShape(), Shape::horizontal);
        QTest::keyClick(&w, Qt::Key_3, Qt::ControlModifier);  // there is no third
        QCOMPARE(studio->previewShape(), Shape::horizontal);

        // Choosing vertical as well hands the digits out afresh.
        studio->toggle(Shape::vertical);
        QCOMPARE(w.previewMenu()->actions().size(), 3);
        QCOMPARE(w.previewMenu()->actions()[0]->text(), QString("Vertical"));
        QTest::keyClick(&w, Qt::Key_3, Qt::ControlModifier);
        QCOMPARE(studio->previewShape(), Shape::square);
    }

    void fileCommandsDisabledRules() {
        auto studio = fresh({"vertical"});
        MainWindow w(*studio);
        QVERIFY(!w.previousFile()->isEnabled());
        QVERIFY(!w.removeFile()->isEnabled());
        QVERIFY(!w.renderAction()->isEnabled());
        QVERIFY(w.addFiles()->isEnabled());
        QVERIFY(w.showOutput()->isEnabled());

        studio->add({in("a.png")});
        QVERIFY(!w.previousFile()->isEnabled());
        QVERIFY(!w.nextFile()->isEnabled());
        QVERIFY(w.removeFile()->isEnabled());
        QVERIFY(w.renderAction()->isEnabled());

        studio->add({in("b.png")});
        QVERIFY(w.nextFile()->isEnabled());
        w.nextFile()->trigger();
        w.nextFile()->trigger();  // wraps back to the first
        QCOMPARE(QFileInfo(studio->selected()).fileName(), QString("a.png"));
        w.previousFile()->trigger();
        QCOMPARE(QFileInfo(studio->selected()).fileName(), QString("b.png"));

        // Neither removing nor rendering while a render runs.
        w.renderAction()->trigger();
        QVERIFY(studio->phase().isRendering());
        QVERIFY(!w.removeFile()->isEnabled());
        QVERIFY(!w.renderAction()->isEnabled());
        studio->cancelRender();
        QTRY_COMPARE_WITH_TIMEOUT(studio->phase(), Phase::idle(), 10000);
        QVERIFY(w.removeFile()->isEnabled());
        QTRY_COMPARE(Engine::liveCount(), 0);
    }

    void removeFileWaitsForTheNameField() {
        auto studio = fresh({"vertical"});
        MainWindow w(*studio);
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        studio->add({in("a.png"), in("b.png")});
        QLineEdit* name = w.content()->sidebar()->exportRows()->nameField();
        name->setFocus();
        QTRY_VERIFY(studio->editingName());
        QVERIFY(!w.removeFile()->isEnabled());
        QTest::keyClick(name, Qt::Key_End);
        QTest::keyClick(name, Qt::Key_Backspace, Qt::ControlModifier);
        QTest::keyClick(name, Qt::Key_Delete);
        QCOMPARE(studio->inputs().size(), 2);

        w.content()->canvas()->setFocus();
        QTRY_VERIFY(!studio->editingName());
        QVERIFY(w.removeFile()->isEnabled());
        QTest::keyClick(&w, Qt::Key_Backspace, Qt::ControlModifier);
        QCOMPARE(studio->inputs().size(), 1);
    }

    void noEngineOutlivesQuitting() {
        auto studio = fresh({"vertical", "horizontal", "square"});
        QFile::remove(m_dir.path() + "/pids");
        studio->add({in("a.png"), in("b.png")});
        studio->render();
        QTRY_VERIFY(Engine::liveCount() >= 2);
        QTRY_VERIFY(support::readFile(m_dir.path() + "/pids").count('\n') >= 2);
        stopEngines(*studio);
        QCOMPARE(Engine::liveCount(), 0);
        for (const QByteArray& pid : support::readFile(m_dir.path() + "/pids").split('\n'))
            if (!pid.isEmpty()) QVERIFY2(!QFileInfo::exists("/proc/" + QString::fromLatin1(pid)), pid.constData());
        // Nothing new starts afterwards either.
        QTest::qWait(200);
        QCOMPARE(Engine::liveCount(), 0);
    }

    // Only "light" asks for the light appearance; anything else set is dark, unset is the desktop's.
    void appearanceHook() {
        for (const char* value : {"Light", "dark", ""})
            QCOMPARE(DevHooks::appearance(env({{"TREVALO_APPEARANCE", value}})), std::optional(Scheme::dark));
        QCOMPARE(DevHooks::appearance(env({{"TREVALO_APPEARANCE", "light"}})), std::optional(Scheme::light));
        QCOMPARE(DevHooks::appearance(QProcessEnvironment()), std::nullopt);
    }

    // Seconds as given, zero included; anything that is not a finite number of them is 4.
    void snapshotDelay() {
        for (const auto& [value, seconds] :
             {std::pair{"0.5", 0.5}, {"0", 0.0}, {"soon", 4.0}, {"-2", 4.0}, {"inf", 4.0}, {"", 4.0}})
            QCOMPARE(DevHooks::snapshotDelay(env({{"TREVALO_SNAPSHOT_DELAY", value}})), seconds);
        QCOMPARE(DevHooks::snapshotDelay(QProcessEnvironment()), 4.0);
    }

    void hooksApplyAppearanceAndTakeTheSnapshot() {
        auto studio = fresh({"vertical"});
        MainWindow w(*studio);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QString shot = m_dir.path() + "/shot.png";
        DevHooks::apply(w, *studio,
                        env({{"TREVALO_APPEARANCE", "light"},
                             {"TREVALO_SNAPSHOT", qPrintable(shot)},
                             {"TREVALO_SNAPSHOT_DELAY", "0.8"}}));
        QCOMPARE(currentScheme(), Scheme::light);
        QTest::qWait(200);
        QVERIFY(!QFileInfo::exists(shot));
        QTRY_VERIFY(QFileInfo::exists(shot));
        QCOMPARE(QImage(shot).size(), w.size());
        // An unwritable path is ignored.
        QVERIFY(!DevHooks::snapshot(&w, m_dir.path() + "/missing/dir/shot.png"));
        DevHooks::apply(w, *studio, env({{"TREVALO_APPEARANCE", "Light"}}));
        QCOMPARE(currentScheme(), Scheme::dark);
    }

    void secondLaunchForwardsItsFiles() {
        const QString name = "trevalo-test-" + QString::number(QCoreApplication::applicationPid());
        Forwarder first(name);
        QVERIFY(first.listen());
        QSignalSpy received(&first, &Forwarder::received);
        Forwarder second(name);
        QVERIFY(!second.listen());     // the first window answers
        QVERIFY(received.wait(2000));  // that probe is an empty batch
        QCOMPARE(received.takeFirst().first().toStringList(), QStringList());

        const QStringList paths{"/tmp/a b.png", "/tmp/ü.mov"};
        QVERIFY(Forwarder::send(name, paths));
        QVERIFY(received.wait(2000));
        QCOMPARE(received.takeFirst().first().toStringList(), paths);
        QVERIFY(!Forwarder::send(name + "-nobody", paths, 200));
    }

    void filesFromArguments() {
        QCOMPARE(Forwarder::filesFrom({"trevalo", "a.png", "--flag", "/abs/b.mov", "--", "-dash.png"}, "/home/u"),
                 (QStringList{"/home/u/a.png", "/abs/b.mov", "/home/u/-dash.png"}));
        QCOMPARE(Forwarder::filesFrom({"trevalo"}, "/"), QStringList());
    }
};

QTEST_MAIN(ShellTest)
#include "tst_shell.moc"
