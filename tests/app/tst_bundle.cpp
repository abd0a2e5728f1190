#include <QtTest>

#include <QImageReader>

#include "support.h"

// The engine as installed: <prefix>/libexec/trevalo/pellmar and <prefix>/share/trevalo/look.conf,
// found from <prefix>/bin where the application lives.
class BundleTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void installedEngineRenders() {
        QDir().mkpath(INSTALL_PREFIX "/bin");
        Engine::setAppDir(INSTALL_PREFIX "/bin");
        QCOMPARE(Engine::enginePath(), QDir::cleanPath(INSTALL_PREFIX "/libexec/trevalo/pellmar"));
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
        bool ended = false;
        std::optional<QString> result;
        Engine::perform(job, makeToken(), this, [&](std::optional<QString> r) {
            ended = true;
            result = r;
        });
        QTRY_VERIFY_WITH_TIMEOUT(ended, 20000);
        QCOMPARE(result, std::nullopt);
        QCOMPARE(QImageReader(out).size(), QSize(1080, 1080));
    }
};

QTEST_GUILESS_MAIN(BundleTest)
#include "tst_bundle.moc"
