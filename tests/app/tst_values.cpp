#include <QtTest>

#include "support.h"

class ValuesTest : public QObject {
    Q_OBJECT
private slots:
    void shapeSizes() {
        // Stills are drawn at twice the video size; names read back; close-ups are the two kinds.
        for (Shape shape :
             {Shape::vertical, Shape::horizontal, Shape::horizontal_closeup, Shape::square, Shape::square_closeup}) {
            const QStringList one = shapeSize(shape, 1).split(u'x'), two = shapeSize(shape, 2).split(u'x');
            QCOMPARE(two[0].toInt(), 2 * one[0].toInt());
            QCOMPARE(two[1].toInt(), 2 * one[1].toInt());
            QCOMPARE(shapeFromName(shapeName(shape)), shape);
            QCOMPARE(shapeCloseup(shape), shapeName(shape).endsWith("_closeup"));
        }
    }

    void backdropForms_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("canonical");  // "-": refused
        const QList<std::pair<const char*, const char*>> rows{
            {"", ""},
            {"#1B3A6B", "#1b3a6b"},
            {"#000000", "#000000"},  // leading zeros kept
            {"#1b3a6b,#0D1B33", "#1b3a6b,#0d1b33"},
            {"#abc", "-"},
            {"1b3a6b", "-"},
            {"#1b3a6b, #0d1b33", "-"},
            {"#000000,#111111,#222222", "-"},
            {"navy", "-"},
        };
        for (const auto& [text, canonical] : rows)
            QTest::newRow(*text ? text : "empty") << QString(text) << QString(canonical);
    }
    void backdropForms() {
        QFETCH(QString, text);
        QFETCH(QString, canonical);
        const auto b = Backdrop::fromText(text);
        QCOMPARE(b.has_value(), canonical != "-");
        if (b) QCOMPARE(b->text(), canonical);
    }

    void dressArgs_data() {
        QTest::addColumn<Caption>("caption");
        QTest::addColumn<CaptionPlace>("place");
        QTest::addColumn<QString>("backdrop");
        QTest::addColumn<QStringList>("args");
        QTest::newRow("title") << Caption{"Hi", ""} << CaptionPlace::top << ""
                               << QStringList{"--title", "Hi", "--caption", "top"};
        // A subtitle is set under a title; alone it would ask the engine for a caption band that
        // has no headline.
        QTest::newRow("subtitle alone") << Caption{"", "sub"} << CaptionPlace::top << "#102030"
                                        << QStringList{"--backdrop", "#102030"};
        QTest::newRow("blank title") << Caption{" \n ", "sub"} << CaptionPlace::top << "" << QStringList{};
    }
    void dressArgs() {
        QFETCH(Caption, caption);
        QFETCH(CaptionPlace, place);
        QFETCH(QString, backdrop);
        QFETCH(QStringList, args);
        QCOMPARE(::dressArgs(caption, place, *Backdrop::fromText(backdrop)), args);
    }

    void kinds_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<Kind>("kind");
        QTest::newRow("upper-case png") << "/a/shot.PNG" << Kind::image;
        QTest::newRow("heic") << "x.heic" << Kind::image;
        QTest::newRow("upper-case m4v") << "clip.M4V" << Kind::video;
        QTest::newRow("aiff") << "song.aiff" << Kind::audio;
        QTest::newRow("text") << "notes.txt" << Kind::other;
        QTest::newRow("no extension") << "/a/README" << Kind::other;
        QTest::newRow("dot in folder only") << "/a/b.png/README" << Kind::other;
        QTest::newRow("last extension counts") << "a.png.txt" << Kind::other;
    }
    void kinds() {
        QFETCH(QString, path);
        QFETCH(Kind, kind);
        QCOMPARE(kindOf(path), kind);
    }
};

QTEST_GUILESS_MAIN(ValuesTest)
#include "tst_values.moc"
