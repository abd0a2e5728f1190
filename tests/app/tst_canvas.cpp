#include <QtTest>

#include "support.h"
#include "Views/canvas.h"
#include "Views/content.h"
#include "Views/sidebar.h"

#include <QElapsedTimer>
#include <QMimeData>

// The canvas: slate and tooltip texts, the drop target, the bottom bar, thumbnails, notices and
// the backdrop, and the preview's cross-fade and busy cue. Most cases run no engine: the bundle
// is empty, so previews fail quietly; the preview cases use a stand-in that answers each output
// size with a flat picture of that shape (a red tall one, a blue wide one, a green square), and
// never answers for inputs named "slow".
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

    void usePictureEngine() {
        const QString dir = m_dir.path() + "/pictures";
        support::makeBundle(
            dir, "case \"$2\" in *slow*) exec sleep 30 ;; esac\ncp \"" + QFile::encodeName(dir) + "/$5.png\" \"$3\"\n");
        support::writePng(dir + "/1080x1920.png", {54, 96}, QColor(220, 30, 30));
        support::writePng(dir + "/1920x1080.png", {96, 54}, QColor(30, 30, 220));
        support::writePng(dir + "/1080x1080.png", {60, 60}, QColor(30, 200, 30));
        Engine::setAppDir(dir);
    }

    // `vf` on screen with the first of `inputs` previewed by the picture engine.
    void showPreview(Viewfinder& vf, Studio& studio, const QStringList& inputs) {
        usePictureEngine();
        vf.resize(640, 520);
        vf.show();
        QVERIFY(QTest::qWaitForWindowExposed(&vf));
        studio.add(inputs);
        studio.restartPreview();
        QTRY_VERIFY(studio.shown().has_value() && !studio.previewLoading());
    }

    // The box of the pixels where `hue` (0 red, 2 blue) stands out from the neutral greys.
    static QRect boxOf(const QImage& img, int hue) {
        QRect box;
        const QImage rgb = img.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < rgb.height(); ++y)
            for (int x = 0; x < rgb.width(); ++x) {
                const QColor c = rgb.pixelColor(x, y);
                const int lead = hue == 0 ? c.red() : c.blue();
                if (lead - c.green() > 40) box |= QRect(x, y, 1, 1);
            }
        return box;
    }

private slots:
    void initTestCase() {
        QDir().mkpath(m_dir.path() + "/nobundle");
        Engine::setAppDir(m_dir.path() + "/nobundle");
    }
    void cleanup() { Engine::setAppDir(m_dir.path() + "/nobundle"); }

    void slateTexts_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<double>("seconds");  // negative: unknown
        QTest::addColumn<QString>("slate");
        QTest::newRow("nothing selected") << "" << -1.0 << "Drop screenshots or screen recordings";
        QTest::newRow("screenshot") << "/x/shot.png" << -1.0 << "shot.png";
        QTest::newRow("recording, length unknown") << "/x/demo.mov" << -1.0 << "demo.mov";
        QTest::newRow("recording") << "/x/demo.mov" << 75.4 << "demo.mov · 1:15";
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

    void oneAddForADropOfFilesAndAFolder() {
        auto studio = fresh();
        ContentView content(*studio);
        support::writePng(in("drop/b.png"), {4, 4});
        support::writePng(in("drop/a.png"), {4, 4});
        support::writeFile(in("x.txt"), "x");
        support::writeFile(in("y.txt"), "y");
        support::writePng(in("first.png"), {4, 4});
        std::unique_ptr<QMimeData> mime(files({in("first.png"), in("x.txt"), in("y.txt"), in("drop")}));

        // Text without file locations is not taken.
        QMimeData text;
        text.setText("hello");
        QDragEnterEvent other(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        other.setAccepted(false);
        QApplication::sendEvent(&content, &other);
        QVERIFY(!other.isAccepted());
        QVERIFY(!content.dropping());

        // Files are; a drag that leaves again drops nothing.
        QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&content, &enter);
        QVERIFY(enter.isAccepted());
        QVERIFY(content.dropping());
        QVERIFY(content.canvas()->viewfinder()->dropping());
        QDragLeaveEvent leave;
        QApplication::sendEvent(&content, &leave);
        QVERIFY(!content.dropping());
        QVERIFY(studio->inputs().isEmpty());
        QApplication::sendEvent(&content, &enter);

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

    void emptyBarThenFilmstrip() {
        auto studio = fresh();
        ContentView content(*studio);
        content.resize(1180, 740);
        content.show();
        CanvasView* canvas = content.canvas();
        QVERIFY(canvas->emptyBar()->isVisible());
        QVERIFY(!canvas->filmstrip()->isVisible());
        QCOMPARE(canvas->viewfinder()->slateText(), QString("Drop screenshots or screen recordings"));

        studio->add({in("one.png"), in("two.mov")});
        QVERIFY(!canvas->emptyBar()->isVisible());
        QVERIFY(canvas->filmstrip()->isVisible());
        QCOMPARE(canvas->filmstrip()->thumbs().size(), 2);
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
        QVERIFY(CanvasView::backdropFor(Theme::light).top.lightnessF() >
                CanvasView::backdropFor(Theme::dark).top.lightnessF());
        // The canvas's own texts and controls follow the output theme.
        QCOMPARE(schemeOf(canvas.viewfinder()), Scheme::light);

        // A backdrop of the user's own takes the theme grey's place, top to bottom, and the
        // canvas's texts then follow its lightness: light texts on a deep blue in the light theme,
        // dark ones on sand in the dark theme.
        studio->setBackdrop(Backdrop::gradient(0x1b3a6b, 0x0d1b33));
        QTRY_COMPARE(canvas.backdrop(), (Wash{QColor(0x1b, 0x3a, 0x6b), QColor(0x0d, 0x1b, 0x33)}));
        QCOMPARE(schemeOf(canvas.viewfinder()), Scheme::dark);
        studio->setTheme(Theme::dark);
        studio->setBackdrop(Backdrop::solid(0xeee4d3));
        QTRY_COMPARE(canvas.backdrop(), (Wash{QColor(0xee, 0xe4, 0xd3), QColor(0xee, 0xe4, 0xd3)}));
        QCOMPARE(schemeOf(canvas.viewfinder()), Scheme::light);
        canvas.resize(200, 100);
        QImage shown(canvas.size(), QImage::Format_RGB32);
        canvas.render(&shown);
        QCOMPARE(shown.pixelColor(1, 1), QColor(0xee, 0xe4, 0xd3));
    }

    void noticeHidesNothing_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("inputs");
        QTest::addColumn<Shape>("shape");
        const QSize smallest(940 - 301, 620), usual(1180 - 301, 760);
        QTest::newRow("smallest, strip, tall") << smallest << true << Shape::vertical;
        QTest::newRow("smallest, empty bar, tall") << smallest << false << Shape::vertical;
        QTest::newRow("smallest, strip, wide") << smallest << true << Shape::horizontal;
        QTest::newRow("usual, strip, tall") << usual << true << Shape::vertical;
        QTest::newRow("usual, empty bar, square") << usual << false << Shape::square;
        QTest::newRow("short and wide") << QSize(1400, 620) << true << Shape::square;
    }

    void noticeHidesNothing() {
        QFETCH(QSize, size);
        QFETCH(bool, inputs);
        QFETCH(Shape, shape);
        auto studio = support::makeStudio(support::caseDir(m_dir));
        CanvasView canvas(*studio);
        canvas.resize(size);
        canvas.show();
        QVERIFY(QTest::qWaitForWindowExposed(&canvas));
        if (inputs) studio->add({in("a.png"), in("b.mov")});
        studio->setPreviewShape(shape);
        studio->say("Skipped notes.txt — not a screenshot, recording or sound");
        QVERIFY(canvas.notice()->isVisible());
        const QRectF notice = canvas.notice()->geometry();
        QVERIFY(QRectF(canvas.rect()).contains(notice));

        auto inCanvas = [&](const QWidget* w) { return QRectF(w->mapTo(&canvas, QPoint(0, 0)), w->size()); };
        Viewfinder* vf = canvas.viewfinder();
        QList<std::pair<QString, QRectF>> needed{
            {"slate", vf->slateRect().translated(vf->pos())},
            {"crop marks", vf->stageRect().adjusted(-7, -7, 7, 7).translated(vf->pos())},
            {"picker", inCanvas(canvas.shapePicker())}};
        if (inputs) {
            for (Thumb* t : canvas.filmstrip()->thumbs()) needed << std::pair{QString("thumb"), inCanvas(t)};
            needed << std::pair{QString("add button"), inCanvas(canvas.filmstrip()->addButton())};
        } else {
            for (QWidget* w : canvas.emptyBar()->findChildren<QWidget*>())
                needed << std::pair{QString("bar"), inCanvas(w)};
        }
        for (const auto& [what, r] : needed) QVERIFY2(!notice.intersects(r), qPrintable(what + " under the notice"));
    }

    void crossFadeKeepsEachPicturesAspect() {
        auto studio = fresh();
        Viewfinder vf(*studio);
        showPreview(vf, *studio, {in("shot.png")});
        if (QTest::currentTestFailed()) return;
        QCOMPARE(studio->shown()->shape, Shape::vertical);

        studio->setPreviewShape(Shape::horizontal);
        studio->restartPreview();
        QTRY_VERIFY(studio->shown()->shape == Shape::horizontal);
        QCOMPARE(vf.crossFade().state(), QAbstractAnimation::Running);
        vf.crossFade().pause();
        vf.crossFade().setCurrentTime(Viewfinder::fadeMs / 2);

        // Half-way, the tall picture fades out in its own box and the wide one fades in in its own.
        const QImage img = vf.grab().toImage();
        const QRect tall = boxOf(img, 0), wide = boxOf(img, 2);
        const QRectF tallBox = vf.pictureRect(Shape::vertical), wideBox = vf.pictureRect(Shape::horizontal);
        QVERIFY2(qAbs(tall.width() - tallBox.width()) <= 2 && qAbs(tall.height() - tallBox.height()) <= 2,
                 qPrintable(QString("tall picture drawn %1x%2").arg(tall.width()).arg(tall.height())));
        QVERIFY2(qAbs(wide.width() - wideBox.width()) <= 2 && qAbs(wide.height() - wideBox.height()) <= 2,
                 qPrintable(QString("wide picture drawn %1x%2").arg(wide.width()).arg(wide.height())));
        QVERIFY(qAbs(double(tall.width()) / tall.height() - 9.0 / 16) < 0.02);
        QVERIFY(qAbs(double(wide.width()) / wide.height() - 16.0 / 9) < 0.05);

        // When it ends, only the new picture is left.
        vf.crossFade().setCurrentTime(Viewfinder::fadeMs);
        QTRY_VERIFY(boxOf(vf.grab().toImage(), 0).isEmpty());
        // Let the warm-up (both themes of both shapes, and the square) settle before the next case.
        QTRY_COMPARE(studio->cacheOrder().size(), 5);
    }

    void busyCueWhenAPreviewIsLate() {
        auto studio = fresh();
        Viewfinder vf(*studio);
        showPreview(vf, *studio, {in("shot.png"), in("slow.png")});
        if (QTest::currentTestFailed()) return;
        QVERIFY(!vf.busyShown());
        const QImage calm = vf.grab().toImage();

        QElapsedTimer clock;
        clock.start();
        studio->setSelected(in("slow.png"));
        studio->restartPreview();
        QTRY_VERIFY(studio->previewLoading());
        if (clock.elapsed() < Viewfinder::busyAfterMs - 20) QVERIFY(!vf.busyShown());
        QTRY_VERIFY(vf.busyShown());
        QVERIFY(clock.elapsed() >= Viewfinder::busyAfterMs);

        // It shows in the middle of the stage, over the last picture, and nowhere else (the
        // slate under the stage names the new input).
        const QImage busy = vf.grab().toImage();
        const QPoint mid = vf.stageRect().center().toPoint();
        QRect changed;
        for (int y = 0; y < vf.slateRect().top(); ++y)
            for (int x = 0; x < busy.width(); ++x)
                if (busy.pixel(x, y) != calm.pixel(x, y)) changed |= QRect(x, y, 1, 1);
        QVERIFY(!changed.isEmpty());
        QVERIFY2(QRect(mid - QPoint(24, 24), QSize(49, 49)).contains(changed), qPrintable(QString("changed %1,%2 %3x%4")
                                                                                              .arg(changed.x())
                                                                                              .arg(changed.y())
                                                                                              .arg(changed.width())
                                                                                              .arg(changed.height())));

        // A picture for the current key ends it.
        studio->setSelected(in("shot.png"));
        studio->restartPreview();
        QTRY_VERIFY(!vf.busyShown());
        studio->loadPreview(std::nullopt);
        QTRY_COMPARE(Engine::liveCount(), 0);
    }
};

QTEST_MAIN(CanvasTest)
#include "tst_canvas.moc"
