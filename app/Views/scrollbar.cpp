#include "scrollbar.h"
#include "controls.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <cmath>

namespace {

// Keeps a clay bar on its area's viewport edge and in step with the area's own bar.
class Follower : public QObject {
public:
    Follower(QAbstractScrollArea* area, QScrollBar* own, ClayScrollBar* bar)
        : QObject(bar), m_area(area), m_own(own), m_bar(bar) {
        area->installEventFilter(this);
        connect(own, &QAbstractSlider::rangeChanged, this, &Follower::sync);
        connect(own, &QAbstractSlider::valueChanged, bar, &QAbstractSlider::setValue);
        connect(bar, &QAbstractSlider::valueChanged, own, &QAbstractSlider::setValue);
        sync();
    }

    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched == m_area &&
            (e->type() == QEvent::Resize || e->type() == QEvent::LayoutRequest || e->type() == QEvent::Show))
            sync();
        return false;
    }

private:
    void sync() {
        // The area sets its bar's page step before its range, so both are current here.
        m_bar->setPageStep(m_own->pageStep());
        m_bar->setSingleStep(m_own->singleStep());
        m_bar->setRange(m_own->minimum(), m_own->maximum());
        m_bar->setValue(m_own->value());
        const QRect vp = m_area->viewport()->geometry();
        const int t = ClayScrollBar::thickness;
        if (m_bar->orientation() == Qt::Vertical) m_bar->setGeometry(vp.right() + 1 - t, vp.top(), t, vp.height());
        else m_bar->setGeometry(vp.left(), vp.bottom() + 1 - t, vp.width(), t);
        m_bar->setVisible(m_own->maximum() > m_own->minimum());
        m_bar->raise();
    }

    QAbstractScrollArea* m_area;
    QScrollBar* m_own;
    ClayScrollBar* m_bar;
};

}  // namespace

ClayScrollBar::ClayScrollBar(Qt::Orientation o, QWidget* parent) : QAbstractSlider(parent) {
    setOrientation(o);
    setMouseTracking(true);
    if (o == Qt::Vertical) setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    else setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

ClayScrollBar* ClayScrollBar::attach(QAbstractScrollArea* area, Qt::Orientation o) {
    const bool vertical = o == Qt::Vertical;
    if (vertical) area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    else area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* bar = new ClayScrollBar(o, area);
    bar->setObjectName(vertical ? QStringLiteral("clayVerticalBar") : QStringLiteral("clayHorizontalBar"));
    new Follower(area, vertical ? area->verticalScrollBar() : area->horizontalScrollBar(), bar);
    return bar;
}

QSize ClayScrollBar::sizeHint() const {
    return orientation() == Qt::Vertical ? QSize(thickness, 80) : QSize(80, thickness);
}

QRectF ClayScrollBar::trackRect() const {
    // A 6-point well, inset from the ends so that its rounded caps clear the area's corners.
    const QRectF r = rect();
    return orientation() == Qt::Vertical ? r.adjusted(2, 3, -2, -3) : r.adjusted(3, 2, -3, -2);
}

qreal ClayScrollBar::handleLength() const {
    const QRectF t = trackRect();
    const qreal track = orientation() == Qt::Vertical ? t.height() : t.width();
    const qreal span = qreal(maximum()) - minimum() + pageStep();
    if (span <= 0) return track;
    return std::clamp(track * pageStep() / span, std::min(minHandle, track), track);
}

QRectF ClayScrollBar::handleRect() const {
    const QRectF t = trackRect();
    const bool vertical = orientation() == Qt::Vertical;
    const qreal track = vertical ? t.height() : t.width();
    const qreal len = handleLength();
    const qreal range = qreal(maximum()) - minimum();
    const qreal at = range > 0 ? (sliderPosition() - minimum()) / range * (track - len) : 0;
    return vertical ? QRectF(t.left(), t.top() + at, t.width(), len) : QRectF(t.left() + at, t.top(), len, t.height());
}

qreal ClayScrollBar::along(const QPointF& p) const {
    const QRectF t = trackRect();
    return orientation() == Qt::Vertical ? p.y() - t.top() : p.x() - t.left();
}

void ClayScrollBar::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || maximum() <= minimum()) return QAbstractSlider::mousePressEvent(e);
    const QRectF h = handleRect();
    const qreal start = orientation() == Qt::Vertical ? h.top() - trackRect().top() : h.left() - trackRect().left();
    if (h.contains(e->position())) {
        m_grab = along(e->position()) - start;
        setSliderDown(true);
    } else {
        // A press on the well pages towards it, as the desktop's bars do.
        triggerAction(along(e->position()) < start ? SliderPageStepSub : SliderPageStepAdd);
    }
    update();
    e->accept();
}

void ClayScrollBar::mouseMoveEvent(QMouseEvent* e) {
    if (!m_grab) return QAbstractSlider::mouseMoveEvent(e);
    const QRectF t = trackRect();
    const qreal travel = (orientation() == Qt::Vertical ? t.height() : t.width()) - handleLength();
    if (travel <= 0) return;
    const qreal f = std::clamp((along(e->position()) - *m_grab) / travel, 0.0, 1.0);
    setSliderPosition(minimum() + int(std::lround(f * (maximum() - minimum()))));
    e->accept();
}

void ClayScrollBar::mouseReleaseEvent(QMouseEvent* e) {
    if (m_grab) {
        m_grab.reset();
        setSliderDown(false);
        update();
    }
    e->accept();
}

void ClayScrollBar::enterEvent(QEnterEvent* e) {
    m_hover = true;
    update();
    QAbstractSlider::enterEvent(e);
}

void ClayScrollBar::leaveEvent(QEvent* e) {
    m_hover = false;
    update();
    QAbstractSlider::leaveEvent(e);
}

void ClayScrollBar::paintEvent(QPaintEvent*) {
    if (maximum() <= minimum()) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const Scheme s = schemeOf(this);
    const double base = clayBase(s);
    const QRectF t = trackRect();
    const qreal r = std::min(t.width(), t.height()) / 2;
    // The well stays faint until the pointer comes near: the bar should not compete with the
    // content it scrolls.
    p.setOpacity(m_hover || m_grab ? 1.0 : 0.55);
    paintTray(p, t, r, s, base);
    p.setOpacity(1);
    paintKey(p, handleRect(), r, s, base, m_grab ? Press::down : m_hover ? Press::hover : Press::none);
}
