#include <QtTest>

#include "support.h"

// Settings survive a restart in their stored forms; unusable stored values fall back quietly.
class SettingsTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString file() const { return m_dir.path() + "/" + QTest::currentTestFunction() + ".ini"; }
    std::unique_ptr<Studio> open() const {
        return std::make_unique<Studio>(new QSettings(file(), QSettings::IniFormat));
    }
    QSettings raw() const { return QSettings(file(), QSettings::IniFormat); }

private slots:
    void roundTrip() {
        const QString sound = m_dir.path() + "/bed.m4a";
        support::writeFile(sound, "x");
        {
            auto studio = open();
            studio->setTheme(Theme::light);
            studio->toggle(Shape::square_closeup);
            studio->toggle(Shape::vertical);
            studio->setSpin(true);
            studio->setAudio(sound);
            studio->setOutRoot(m_dir.path() + "/renders");
            studio->setCaptionPlace(CaptionPlace::bottom);
            studio->setBackdrop(Backdrop::gradient(0x1b3a6b, 0x0d1b33));
            studio->setName("not kept");
            studio->add({m_dir.path() + "/a.png"});
            studio->setCaption(m_dir.path() + "/a.png", {"not kept either", ""});
        }
        {
            QSettings s = raw();
            QCOMPARE(s.value("theme").toString(), "light");
            QCOMPARE(s.value("shapes").toStringList(), (QStringList{"horizontal", "square", "square_closeup"}));
            QCOMPARE(s.value("spin").toBool(), true);
            QCOMPARE(s.value("audio").toString(), sound);
            QCOMPARE(s.value("outRoot").toString(), m_dir.path() + "/renders");
            QCOMPARE(s.value("caption").toString(), "bottom");
            QCOMPARE(s.value("backdrop").toString(), "#1b3a6b,#0d1b33");
        }
        auto studio = open();
        QCOMPARE(studio->theme(), Theme::light);
        QCOMPARE(studio->orderedShapes(), (QList<Shape>{Shape::horizontal, Shape::square, Shape::square_closeup}));
        QCOMPARE(studio->previewShape(), Shape::horizontal);
        QVERIFY(studio->spin());
        QCOMPARE(studio->audio(), sound);
        QCOMPARE(studio->outRoot(), m_dir.path() + "/renders");
        QCOMPARE(studio->name(), QString());
        QCOMPARE(studio->captionPlace(), CaptionPlace::bottom);
        QCOMPARE(studio->backdrop(), Backdrop::gradient(0x1b3a6b, 0x0d1b33));
        studio->add({m_dir.path() + "/a.png"});
        QCOMPARE(studio->caption(m_dir.path() + "/a.png"), Caption{});

        studio->setAudio({});
        QVERIFY(!raw().contains("audio"));
        studio->setBackdrop(Backdrop::solid(0xFFEEDD));
        QCOMPARE(raw().value("backdrop").toString(), "#ffeedd");
        studio->setBackdrop({});
        QVERIFY(!raw().contains("backdrop"));
    }

    void unusableValues() {
        {
            QSettings s = raw();
            s.setValue("theme", "sepia");
            s.setValue("shapes", QStringList{"round", "Vertical"});
            s.setValue("audio", m_dir.path() + "/gone.mp3");
            s.setValue("caption", "middle");
            s.setValue("backdrop", "#12345g");
        }
        auto studio = open();
        QCOMPARE(studio->theme(), Theme::dark);
        QCOMPARE(studio->orderedShapes(), (QList<Shape>{Shape::vertical, Shape::horizontal, Shape::square}));
        QCOMPARE(studio->audio(), QString());
        // No stored folder: the desktop where there is one.
        const QString desktop = QDir::home().filePath("Desktop");
        QCOMPARE(studio->outRoot(), QFileInfo(desktop).isDir() ? desktop : QDir::homePath());
        QCOMPARE(studio->captionPlace(), CaptionPlace::top);
        QVERIFY(studio->backdrop().isTheme());
        // A known shape among unknown ones is kept alone.
        raw().setValue("shapes", QStringList{"square", "round"});
        QCOMPARE(open()->orderedShapes(), QList<Shape>{Shape::square});
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
