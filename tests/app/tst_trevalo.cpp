#include <QtTest>

#include "support.h"

#include <QProcess>

// The trevalo program from the outside: launched with a screenshot, it renders by itself through
// the real engine, writes a picture of its window, and takes a second launch's files.
class TrevaloTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", m_dir.path() + "/config");
        env.insert("TMPDIR", m_dir.path() + "/tmp");
        // Under Xvfb the window meets a real X server; elsewhere it draws off screen.
        env.insert("QT_QPA_PLATFORM", env.contains("DISPLAY") ? "xcb" : "offscreen");
        return env;
    }

private slots:
    void rendersAndSnapshotsByItself() {
        QDir().mkpath(m_dir.path() + "/tmp");
        const QString out = m_dir.path() + "/out";
        support::writeFile(m_dir.path() + "/config/trevalo/trevalo.conf",
                           "[General]\noutRoot=" + out.toUtf8() + "\nshapes=vertical, square\ntheme=dark\n");
        QDir().mkpath(m_dir.path() + "/in");
        QVERIFY(QFile::copy(SAMPLE_PNG, m_dir.path() + "/in/launch.png"));
        const QString shot = m_dir.path() + "/window.png";

        QProcess app;
        QProcessEnvironment env = environment();
        env.insert("TREVALO_AUTORENDER", "1");
        env.insert("TREVALO_APPEARANCE", "dark");
        env.insert("TREVALO_SNAPSHOT", shot);
        env.insert("TREVALO_SNAPSHOT_DELAY", "1.5");
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(TREVALO_EXE, {m_dir.path() + "/in/launch.png"});
        QVERIFY(app.waitForStarted());

        const QDir folder(out + "/launch_trevalo");
        QTRY_COMPARE_WITH_TIMEOUT(folder.entryList({"*.png"}, QDir::Files).size(), 2, 120000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(shot).size() > 0, 20000);
        QTest::qWait(200);   // the snapshot file may still be being written
        const QImage picture(shot);
        QVERIFY(!picture.isNull());
        QCOMPARE(picture.size(), QSize(1180, 760));
        for (const QString& name : folder.entryList({"*.png"}, QDir::Files))
            QVERIFY2(!QImage(folder.filePath(name)).isNull(), qPrintable(name));
        QCOMPARE(app.state(), QProcess::Running);   // the snapshot leaves it running

        // A second launch hands its file to the running window and ends at once.
        QProcess second;
        second.setProcessEnvironment(environment());
        second.start(TREVALO_EXE, {m_dir.path() + "/in/launch.png"});
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(app.state(), QProcess::Running);

        app.terminate();
        QVERIFY(app.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TrevaloTest)
#include "tst_trevalo.moc"
