#include <QtTest>

#include "support.h"

class ValuesTest : public QObject {
    Q_OBJECT
private slots:
    void shapeSizes_data() {
        QTest::addColumn<Shape>("shape");
        QTest::addColumn<QString>("one");
        QTest::addColumn<QString>("two");
        QTest::addColumn<bool>("closeup");
        QTest::newRow("vertical") << Shape::vertical << "1080x1920"
                                  << "2160x3840" << false;
        QTest::newRow("horizontal") << Shape::horizontal << "1920x1080"
                                    << "3840x2160" << false;
        QTest::newRow("horizontal_closeup") << Shape::horizontal_closeup << "1920x1080"
                                            << "3840x2160" << true;
        QTest::newRow("square") << Shape::square << "1080x1080"
                                << "2160x2160" << false;
        QTest::newRow("square_closeup") << Shape::square_closeup << "1080x1080"
                                        << "2160x2160" << true;
    }
    void shapeSizes() {
        QFETCH(Shape, shape);
        QFETCH(QString, one);
        QFETCH(QString, two);
        QFETCH(bool, closeup);
        QCOMPARE(shapeSize(shape, 1), one);
        QCOMPARE(shapeSize(shape, 2), two);
        QCOMPARE(shapeCloseup(shape), closeup);
        QCOMPARE(shapeFromName(shapeName(shape)), shape);
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
