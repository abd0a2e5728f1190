#include <QtTest>

#include "support.h"
#include "Views/clay.h"
#include "Views/controls.h"
#include "Views/labels.h"
#include "Views/scrollbar.h"

#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

// Mean grey of a widget painted into an image, for comparing appearances.
double meanLevel(QWidget& w) {
    const QImage img = w.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    double sum = 0;
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb px = img.pixel(x, y);
            if (qAlpha(px) < 128) continue;
            sum += qGray(px);
            ++n;
        }
    return n ? sum / n : -1;
}

}  // namespace

// The clay controls: grain, the sliding picker, and the two appearances.
class ControlsTest : public QObject {
    Q_OBJECT
private slots:
    void grainTileHoldsOnlyLevels88To168() {
        const QImage tile = grainTile().convertToFormat(QImage::Format_Grayscale8);
        QCOMPARE(tile.size(), QSize(128, 128));
        int lo = 255, hi = 0;
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x) {
                lo = std::min<int>(lo, tile.pixelColor(x, y).red());
                hi = std::max<int>(hi, tile.pixelColor(x, y).red());
            }
        QVERIFY2(lo >= 88 && hi <= 168, qPrintable(QString("levels %1..%2").arg(lo).arg(hi)));
        // 16384 uniform draws from 81 values reach both ends.
        QCOMPARE(lo, 88);
        QCOMPARE(hi, 168);
    }

    void switchSlidesWhenClicked() {
        ClaySwitch sw;
        sw.show();
        QSignalSpy toggled(&sw, &QAbstractButton::toggled);
        QTest::mouseClick(&sw, Qt::LeftButton);
        QCOMPARE(toggled.size(), 1);
        QVERIFY(sw.isChecked());
        QTRY_COMPARE(sw.knobRect().right(), 28.0);
    }

    void segmentedKeySlidesBetweenSegments() {
        Segmented seg;
        seg.setOptions({{"Dark", {}, {}}, {"Light", {}, {}}});
        seg.setStretch(true);
        seg.resize(200, Segmented::fixedHeight);
        seg.setSelected(0);
        seg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&seg));
        QCOMPARE(seg.keyRect(), seg.segmentRect(0));
        // Segments share the width equally.
        QCOMPARE(seg.segmentRect(0).width(), seg.segmentRect(1).width());

        QSignalSpy activated(&seg, &Segmented::activated);
        QTest::mouseClick(&seg, Qt::LeftButton, {}, seg.segmentRect(1).center().toPoint());
        QCOMPARE(activated.size(), 1);
        QCOMPARE(activated.first().first().toInt(), 1);
        // Choosing is the owner's business; the key moves when told.
        seg.setSelected(1);
        // It starts where it was and travels: no jump.
        QVERIFY(seg.sliding());
        QCOMPARE(seg.keyRect(), seg.segmentRect(0));
        QList<qreal> lefts;
        QTRY_VERIFY((lefts << seg.keyRect().left(), !seg.sliding()));
        QVERIFY(std::is_sorted(lefts.begin(), lefts.end()));
        QCOMPARE(seg.keyRect(), seg.segmentRect(1));
    }

    void appearanceSwitchesShading_data() {
        QTest::addColumn<int>("which");
        QTest::addColumn<bool>("ink");  // the ink is dark on light clay and light on dark clay
        QTest::newRow("button") << 0 << false;
        QTest::newRow("render button") << 1 << true;
        QTest::newRow("segmented") << 2 << false;
        QTest::newRow("switch") << 3 << false;
        QTest::newRow("scroll bar") << 4 << false;
    }

    void appearanceSwitchesShading() {
        QFETCH(int, which);
        QFETCH(bool, ink);
        QWidget holder;  // outlives w, which it may hold at the end
        std::unique_ptr<QWidget> w;
        if (which == 0) w = std::make_unique<ClayButton>("Show in Folder");
        if (which == 1) w = std::make_unique<RenderButton>();
        if (which == 2) {
            auto seg = std::make_unique<Segmented>();
            seg->setOptions({{"Dark", {}, {}}, {"Light", {}, {}}});
            seg->setSelected(0);
            w = std::move(seg);
        }
        if (which == 3) w = std::make_unique<ClaySwitch>();
        if (which == 4) {
            auto bar = std::make_unique<ClayScrollBar>(Qt::Vertical);
            bar->setRange(0, 100);
            bar->setPageStep(50);
            w = std::move(bar);
        }
        w->resize(w->sizeHint());
        QSignalSpy changed(&Appearance::shared(), &Appearance::changed);
        Appearance::shared().setScheme(Scheme::light);
        const double light = meanLevel(*w);
        Appearance::shared().setScheme(Scheme::dark);
        const double dark = meanLevel(*w);
        QVERIFY2((ink ? dark - light : light - dark) > 40,
                 qPrintable(QString("light %1, dark %2").arg(light).arg(dark)));
        QVERIFY(changed.size() >= 1);
        // A part of the window can paint in its own appearance, whatever the window's.
        setSchemeOverride(&holder, Scheme::light);
        w->setParent(&holder);
        QCOMPARE(schemeOf(w.get()), Scheme::light);
        const double held = meanLevel(*w);
        QVERIFY2(std::abs(held - light) < std::abs(held - dark), qPrintable(QString::number(held)));
    }

    void scrollBarLiesOverTheAreaWithoutArrows() {
        QScrollArea area;
        area.setFrameShape(QFrame::NoFrame);
        area.setWidgetResizable(true);
        auto* body = new QWidget;
        body->setMinimumHeight(600);
        area.setWidget(body);
        ClayScrollBar* bar = ClayScrollBar::attach(&area, Qt::Vertical);
        area.resize(200, 200);
        area.show();
        QVERIFY(QTest::qWaitForWindowExposed(&area));
        // The desktop's bar stays hidden and the content keeps its whole width under the clay one.
        QVERIFY(!area.verticalScrollBar()->isVisible());
        QVERIFY(bar->isVisible());
        QCOMPARE(area.viewport()->width(), 200);
        QCOMPARE(bar->geometry(), QRect(200 - ClayScrollBar::thickness, 0, ClayScrollBar::thickness, 200));

        // No arrows: the handle runs from one end of the well to the other, a third of it long.
        const QRectF track = bar->trackRect();
        QCOMPARE(bar->handleRect().top(), track.top());
        QVERIFY(qAbs(bar->handleRect().height() - track.height() / 3) < 1);
        area.verticalScrollBar()->setValue(area.verticalScrollBar()->maximum());
        QCOMPARE(bar->value(), 400);
        QCOMPARE(bar->handleRect().bottom(), track.bottom());

        // Dragging the handle scrolls the area; a press on the well pages towards it.
        const QPoint grip = bar->handleRect().center().toPoint();
        QTest::mousePress(bar, Qt::LeftButton, {}, grip);
        QTest::mouseMove(bar, grip - QPoint(0, 200));
        QTest::mouseRelease(bar, Qt::LeftButton, {}, grip - QPoint(0, 200));
        QCOMPARE(area.verticalScrollBar()->value(), 0);
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(5, 190));
        QCOMPARE(area.verticalScrollBar()->value(), area.verticalScrollBar()->pageStep());

        // Nothing to scroll, no bar.
        body->setMinimumHeight(100);
        QTRY_VERIFY(!bar->isVisible());
    }

    void disabledRenderButtonIsDimmed() {
        Appearance::shared().setScheme(Scheme::light);
        RenderButton b;
        b.setText("Render");
        b.resize(200, 38);
        const double on = meanLevel(b);
        b.setEnabled(false);
        QVERIFY(meanLevel(b) > on + 40);  // the dark ink gives way to a pale flat key
    }

    void clockTable_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "0:00";
        QTest::newRow("rounds down") << 75.4 << "1:15";
        QTest::newRow("rounds up") << 59.5 << "1:00";
        QTest::newRow("61") << 61.0 << "1:01";
        QTest::newRow("an hour") << 3600.0 << "60:00";
        QTest::newRow("negative") << -3.0 << "0:00";
    }

    void clockTable() {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(clock(seconds), text);
    }

    void tildeReplacesOnlyAWholeHomeFolder() {
        QCOMPARE(tilde("/home/ann/Desktop/x_trevalo", "/home/ann"), QString("~/Desktop/x_trevalo"));
        QCOMPARE(tilde("/home/ann", "/home/ann"), QString("~"));
        QCOMPARE(tilde("/home/anna/Desktop", "/home/ann"), QString("/home/anna/Desktop"));
        QCOMPARE(tilde("/srv/out", "/home/ann"), QString("/srv/out"));
    }
};

QTEST_MAIN(ControlsTest)
#include "tst_controls.moc"
