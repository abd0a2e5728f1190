#include <QtTest>

#include "support.h"
#include "Views/canvas.h"
#include "Views/content.h"
#include "Views/sidebar.h"

#include <QMimeData>

// The canvas: slate and tooltip texts, the drop target, the bottom bar, thumbnails, notices and
// the backdrop. No engine runs here: the bundle is empty, so previews fail quietly.
class CanvasTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString in(const QString& name) const { return m_dir.path() + "/in/" + name; }

    std::unique_ptr<Studio> fresh() {
        const QString dir = m_dir.path() + "/" + QTest::currentTestFunction();
        return support::makeStudio(dir);
    }

    static QMimeData* files(const QStringList& paths) {
        auto* mime = new QMimeData;
        QList<QUrl> urls;
        for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
        mime->setUrls(urls);
        return mime;
    }

private slots:
    void initTestCase() {
        QDir().mkpath(m_dir.path() + "/nobundle");
        Engine::setAppDir(m_dir.path() + "/nobundle");
    }

    void slateTexts_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<double>("seconds");  // negative: unknown
        QTest::addColumn<QString>("slate");
        QTest::newRow("nothing selected") << "" << -1.0 << "Drop screenshots or screen recordings";
        QTest::newRow("screenshot") << "/x/shot.png" << -1.0 << "shot.png";
        QTest::newRow("recording, length unknown") << "/x/demo.mov" << -1.0 << "demo.mov";
        QTest::newRow("recording") << "/x/demo.mov" << 75.4 << "demo.mov · 1:15";
        QTest::newRow("an hour") << "/x/long.mp4" << 3600.0 << "long.mp4 · 60:00";
    }

    void slateTexts() {
        QFETCH(QString, path);
        QFETCH(double, seconds);
        QFETCH(QString, slate);
        QCOMPARE(Viewfinder::slate(path, seconds < 0 ? std::nullopt : std::optional(seconds)), slate);
    }

    void tooltipPastTheFirstMinute_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("help");
        QTest::newRow("61 s") << 61.0 << "demo.mov — renders the first minute of 1:01";
        QTest::newRow("60.4 s") << 60.4 << "demo.mov";
        QTest::newRow("60.5 s") << 60.5 << "demo.mov";
        QTest::newRow("unknown") << -1.0 << "demo.mov";
    }

    void tooltipPastTheFirstMinute() {
        QFETCH(double, seconds);
        QFETCH(QString, help);
        QCOMPARE(Thumb::help("demo.mov", seconds < 0 ? std::nullopt : std::optional(seconds)), help);
    }

    void recBadgePulses() {
        QCOMPARE(Viewfinder::recOpacity(0), 1.0);
        QVERIFY(qAbs(Viewfinder::recOpacity(0.8) - 0.2) < 1e-9);
        QVERIFY(qAbs(Viewfinder::recOpacity(1.6) - 1.0) < 1e-9);
    }

    void oneAddForADropOfFilesAndAFolder() {
        auto studio = fresh();
        ContentView content(*studio);
        support::writePng(in("drop/b.png"), {4, 4});
        support::writePng(in("drop/a.png"), {4, 4});
        support::writeFile(in("x.txt"), "x");
        support::writeFile(in("y.txt"), "y");
        support::writePng(in("first.png"), {4, 4});
        std::unique_ptr<QMimeData> mime(files({in("first.png"), in("x.txt"), in("y.txt"), in("drop")}));

        QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&content, &enter);
        QVERIFY(enter.isAccepted());
        QVERIFY(content.dropping());
        QVERIFY(content.canvas()->viewfinder()->dropping());

        QSignalSpy inputs(studio.get(), &Studio::inputsChanged);
        QDropEvent drop(QPointF(300, 300), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&content, &drop);
        QVERIFY(drop.isAccepted());
        QVERIFY(!content.dropping());
        QCOMPARE(inputs.size(), 1);
        QCOMPARE(studio->inputs().size(), 3);
        QCOMPARE(QFileInfo(studio->inputs()[1].path).fileName(), QString("a.png"));
        // Two rejected files in one call make one notice that counts them.
        QCOMPARE(studio->notice(), QString("Skipped 2 files — not screenshots, recordings or sounds"));
        QCOMPARE(content.canvas()->notice()->text(), studio->notice());
    }

    void dragLeavingClearsDropping() {
        auto studio = fresh();
        ContentView content(*studio);
        std::unique_ptr<QMimeData> mime(files({in("first.png")}));
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&content, &enter);
        QVERIFY(content.dropping());
        QDragLeaveEvent leave;
        QApplication::sendEvent(&content, &leave);
        QVERIFY(!content.dropping());

        // Text without file locations is not taken.
        QMimeData text;
        text.setText("hello");
        QDragEnterEvent other(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        other.setAccepted(false);
        QApplication::sendEvent(&content, &other);
        QVERIFY(!other.isAccepted());
        QVERIFY(!content.dropping());
    }

    void emptyBarThenFilmstrip() {
        auto studio = fresh();
        ContentView content(*studio);
        content.resize(1180, 740);
        content.show();
        CanvasView* canvas = content.canvas();
        QVERIFY(canvas->emptyBar()->isVisible());
        QVERIFY(!canvas->filmstrip()->isVisible());
        QCOMPARE(canvas->emptyBar()->chooseButton()->text(), QString("Choose Files…"));
        QCOMPARE(canvas->emptyBar()->caption(), QString("PNG · JPG · HEIC · MOV · MP4"));
        QCOMPARE(canvas->viewfinder()->slateText(), QString("Drop screenshots or screen recordings"));
        QCOMPARE(canvas->viewfinder()->shapeText(), QString("Vertical"));

        studio->add({in("one.png"), in("two.mov")});
        QVERIFY(!canvas->emptyBar()->isVisible());
        QVERIFY(canvas->filmstrip()->isVisible());
        QCOMPARE(canvas->filmstrip()->thumbs().size(), 2);
        QCOMPARE(canvas->filmstrip()->addButton()->toolTip(), QString("Add screenshots or recordings"));
        QCOMPARE(canvas->viewfinder()->slateText(), QString("one.png"));
        QVERIFY(!canvas->viewfinder()->showsRec());

        Thumb* second = canvas->filmstrip()->thumbs()[1];
        QCOMPARE(second->removeButton()->accessibleName(), QString("Remove two.mov"));
        QCOMPARE(second->toolTip(), QString("two.mov"));
        QTest::mouseClick(second, Qt::LeftButton, {}, QPoint(30, 40));
        QCOMPARE(QFileInfo(studio->selected()).fileName(), QString("two.mov"));
        QVERIFY(canvas->viewfinder()->showsRec());

        // The remove button shows under the pointer only.
        QVERIFY(second->removeButton()->isHidden());
        QEnterEvent enter(QPointF(30, 30), QPointF(30, 30), QPointF(30, 30));
        QApplication::sendEvent(second, &enter);
        QVERIFY(!second->removeButton()->isHidden());
        QTest::mouseClick(second->removeButton(), Qt::LeftButton);
        QCOMPARE(studio->inputs().size(), 1);
        QTRY_COMPARE(canvas->filmstrip()->thumbs().size(), 1);
        QCOMPARE(QFileInfo(studio->selected()).fileName(), QString("one.png"));

        studio->removeSelected();
        QVERIFY(canvas->emptyBar()->isVisible());
    }

    void shapePickerFollowsChosenShapes() {
        auto studio = fresh();
        CanvasView canvas(*studio);
        // The default shapes: vertical, horizontal, square.
        QCOMPARE(canvas.shapePicker()->count(), 3);
        QCOMPARE(canvas.shapePicker()->selected(), 0);
        emit canvas.shapePicker()->activated(2);
        QCOMPARE(studio->previewShape(), Shape::square);
        QCOMPARE(canvas.shapePicker()->selected(), 2);
        QCOMPARE(canvas.viewfinder()->shapeText(), QString("Square"));
        studio->toggle(Shape::square_closeup);
        QCOMPARE(canvas.shapePicker()->count(), 4);
        QCOMPARE(canvas.shapePicker()->selected(), 2);
    }

    void themeRecoloursTheCanvas() {
        auto studio = fresh();
        CanvasView canvas(*studio);
        canvas.show();
        QCOMPARE(canvas.backdrop(), CanvasView::backdropFor(Theme::dark));
        studio->setTheme(Theme::light);
        QTRY_COMPARE(canvas.backdrop(), CanvasView::backdropFor(Theme::light));
        QVERIFY(CanvasView::backdropFor(Theme::light).lightnessF() > CanvasView::backdropFor(Theme::dark).lightnessF());
        // The canvas's own texts and controls follow the output theme.
        QCOMPARE(schemeOf(canvas.viewfinder()), Scheme::light);
    }

    void noticeFadesInAndOut() {
        auto studio = fresh();
        CanvasView canvas(*studio);
        canvas.resize(800, 600);
        canvas.show();
        studio->say("Skipped x.txt — not a screenshot, recording or sound");
        QVERIFY(canvas.notice()->isVisible());
        // It floats 100 points above the bottom edge.
        QCOMPARE(canvas.notice()->geometry().bottom() + 1, 600 - 100);
        studio->add({});  // nothing new; the notice stays until its time is up
        QVERIFY(canvas.notice()->isVisible());
    }
};

QTEST_MAIN(CanvasTest)
#include "tst_canvas.moc"
