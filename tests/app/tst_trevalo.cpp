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
        QTest::qWait(200);  // the snapshot file may still be being written
        const QImage picture(shot);
        QVERIFY(!picture.isNull());
        QCOMPARE(picture.size(), QSize(1180, 760));
        for (const QString& name : folder.entryList({"*.png"}, QDir::Files))
            QVERIFY2(!QImage(folder.filePath(name)).isNull(), qPrintable(name));
        QCOMPARE(app.state(), QProcess::Running);  // the snapshot leaves it running

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

    void quittingDuringARenderStopsTheEngines() {
        QDir().mkpath(m_dir.path() + "/tmp");
        const QString out = m_dir.path() + "/out2";
        support::writeFile(
            m_dir.path() + "/config/trevalo/trevalo.conf",
            "[General]\noutRoot=" + out.toUtf8() + "\nshapes=vertical, horizontal, square\nspin=false\n");
        const QString pellmar = QFileInfo(TREVALO_EXE).dir().filePath("pellmar");
        const QString clip = m_dir.path() + "/in/clip.mov";
        QDir().mkpath(m_dir.path() + "/in");
        QProcess gen;
        gen.start(pellmar, {"gen-test", SAMPLE_PNG, clip, "--seconds", "3"});
        QVERIFY(gen.waitForFinished(60000));
        QCOMPARE(gen.exitCode(), 0);

        QProcess app;
        QProcessEnvironment env = environment();
        env.insert("TREVALO_AUTORENDER", "1");
        app.setProcessEnvironment(env);
        app.start(TREVALO_EXE, {clip});
        QVERIFY(app.waitForStarted());

        // The engines are the window's children; wait for the render's frame run among them.
        QSet<qint64> engines;
        bool rendering = false;
        QTRY_VERIFY_WITH_TIMEOUT((engines += childEngines(app.processId(), &rendering), rendering), 30000);
        app.terminate();
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        for (qint64 pid : engines) QTRY_VERIFY2(!alive(pid), qPrintable(QString::number(pid)));
        // A cancelled render delivers nothing.
        QCOMPARE(QDir(out + "/clip_trevalo").entryList(QDir::Files), QStringList());
    }

private:
    // Children of `parent` running pellmar; `frame` is set when one of them runs `frame`.
    static QSet<qint64> childEngines(qint64 parent, bool* frame) {
        QSet<qint64> found;
        for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
            bool ok = false;
            const qint64 pid = entry.toLongLong(&ok);
            if (!ok) continue;
            const QByteArray stat = support::readFile("/proc/" + entry + "/stat");
            const qsizetype close = stat.lastIndexOf(')');
            if (close < 0) continue;
            const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
            if (fields.size() < 2 || fields[1].toLongLong() != parent) continue;
            const QList<QByteArray> args = support::readFile("/proc/" + entry + "/cmdline").split('\0');
            if (args.isEmpty() || !args[0].endsWith("pellmar")) continue;
            found.insert(pid);
            if (args.size() > 1 && args[1] == "frame") *frame = true;
        }
        return found;
    }

    static bool alive(qint64 pid) {
        const QByteArray stat = support::readFile("/proc/" + QString::number(pid) + "/stat");
        const qsizetype close = stat.lastIndexOf(')');
        return close >= 0 && stat.mid(close + 2, 1) != "Z";
    }
};

QTEST_GUILESS_MAIN(TrevaloTest)
#include "tst_trevalo.moc"
