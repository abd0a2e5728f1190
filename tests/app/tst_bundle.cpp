#include <QtTest>

#include <QImageReader>
#include <QProcess>

#include "support.h"

// The engine as installed: <prefix>/bin/pellmar and <prefix>/share/trevalo/look.conf, found from
// <prefix>/bin where the application lives, and by the engine itself from anywhere.
class BundleTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void installedEngineRenders() {
        QDir().mkpath(INSTALL_PREFIX "/bin");
        Engine::setAppDir(INSTALL_PREFIX "/bin");
        QCOMPARE(Engine::enginePath(), QDir::cleanPath(INSTALL_PREFIX "/bin/pellmar"));
        QCOMPARE(Engine::look(), QDir::cleanPath(INSTALL_PREFIX "/share/trevalo/look.conf"));
        // The shipped look file's dark theme starts with #1d1e22.
        QCOMPARE(Engine::backdrop(Theme::dark), 0x1d / 255.0);

        const QString shot = m_dir.path() + "/shot.png";
        support::writePng(shot, {300, 650});
        const QString out = m_dir.path() + "/out/shot_square.png";
        QDir().mkpath(m_dir.path() + "/out");
        const Job job{
            shot,
            {"still", shot, "{TMP}/shot_square.png", "--size", "1080x1080", "--theme", "light", "--layout", "full"},
            {out},
            {},
            {}};
        QCOMPARE(support::performNow(job), std::nullopt);
        QCOMPARE(QImageReader(out).size(), QSize(1080, 1080));
    }

    // From a terminal, with no TREVALO_LOOK: started by its path, through a link in another
    // folder, and by bare name from the PATH, in a folder without a look file.
    void installedEngineFindsItsLookAlone() {
        const QString shot = m_dir.path() + "/alone/shot.png";
        support::writePng(shot, {60, 130});
        const QString links = m_dir.path() + "/links";
        QDir().mkpath(links);
        QFile::link(INSTALL_PREFIX "/bin/pellmar", links + "/pellmar");

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("TREVALO_LOOK");
        const QStringList programs{INSTALL_PREFIX "/bin/pellmar", links + "/pellmar", "pellmar"};
        for (const QString& program : programs) {
            QProcess p;
            QProcessEnvironment e = env;
            if (program == "pellmar") e.insert("PATH", INSTALL_PREFIX "/bin:" + env.value("PATH"));
            p.setProcessEnvironment(e);
            p.setWorkingDirectory(m_dir.path() + "/alone");
            // Through the shell, so that a bare name reaches the engine as its first argument.
            p.start("/bin/sh", {"-c", "exec \"$0\" still shot.png out.png --size 120x260", program});
            QVERIFY(p.waitForFinished(20000));
            QCOMPARE(p.readAllStandardError(), QByteArray());
            QCOMPARE(p.exitCode(), 0);
            QCOMPARE(QImageReader(m_dir.path() + "/alone/out.png").size(), QSize(120, 260));
            QFile::remove(m_dir.path() + "/alone/out.png");
        }
    }
};

QTEST_GUILESS_MAIN(BundleTest)
#include "tst_bundle.moc"
