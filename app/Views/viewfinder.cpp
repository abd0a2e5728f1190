#include "viewfinder.h"
#include "controls.h"
#include "labels.h"
#include "Studio/studio.h"

#include <QDateTime>
#include <QEasingCurve>
#include <QFileInfo>
#include <QPainter>
#include <QRegion>

#include <cmath>

Viewfinder::Viewfinder(Studio& studio, QWidget* parent) : QWidget(parent), m_studio(studio) {
    m_fade.setDuration(fadeMs);
    m_fade.setStartValue(0.0);
    m_fade.setEndValue(1.0);
    connect(&m_fade, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_mix = v.toReal();
        update();
    });
    connect(&m_fade, &QVariantAnimation::finished, this, [this] {
        m_previous = QImage();
        m_previousKey.reset();
        update();
    });
    m_pulse.setInterval(33);
    connect(&m_pulse, &QTimer::timeout, this, [this] {
        if (showsRec()) update(QRect(stageRect().topLeft().toPoint(), QSize(64, 32)));
        else m_pulse.stop();
    });
    connect(&m_studio, &Studio::previewChanged, this, &Viewfinder::previewChanged);

    // The busy cue: previews take about a second, and a stale picture alone does not say that
    // a new one is on its way. Quick answers (the cache, a fast engine) never show it.
    m_sinceKey.start();
    m_busyDelay.setSingleShot(true);
    connect(&m_busyDelay, &QTimer::timeout, this, &Viewfinder::refreshBusy);
    connect(&m_studio, &Studio::previewKeyChanged, this, [this] {
        m_sinceKey.restart();
        refreshBusy();
    });
    m_busySpin.setStartValue(0.0);
    m_busySpin.setEndValue(360.0);
    m_busySpin.setDuration(900);
    m_busySpin.setLoopCount(-1);
    connect(&m_busySpin, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_busyAngle = v.toReal();
        const QPointF c = stageRect().center();
        update(QRectF(c - QPointF(24, 24), QSizeF(48, 48)).toAlignedRect());
    });

    for (auto signal : {&Studio::selectionChanged, &Studio::previewShapeChanged, &Studio::thumbsChanged,
                        &Studio::settingsChanged, &Studio::inputsChanged})
        connect(&m_studio, signal, this, [this] {
            if (showsRec() && !m_pulse.isActive()) m_pulse.start();
            update();
        });
    previewChanged();
}

void Viewfinder::setDropping(bool on) {
    if (on == m_dropping) return;
    m_dropping = on;
    update();
}

void Viewfinder::setBottomRoom(int px) {
    if (px == m_bottomRoom) return;
    m_bottomRoom = px;
    update();
}

void Viewfinder::previewChanged() {
    const QImage img = m_studio.preview();
    const auto shown = m_studio.shown();
    // While a preview loads the last one stays; a new `shown` cross-fades over it.
    if (shown != m_shownKey || img.cacheKey() != m_current.cacheKey()) {
        if (shown != m_shownKey && !m_current.isNull() && !img.isNull() && isVisible()) {
            m_previous = m_current;
            m_previousKey = m_shownKey;
            m_mix = 0;
            m_fade.stop();
            m_fade.start();
        } else {
            m_previous = QImage();
            m_previousKey.reset();
            m_mix = 1;
        }
        m_current = img;
        m_shownKey = shown;
    }
    if (showsRec() && !m_pulse.isActive()) m_pulse.start();
    refreshBusy();
    update();
}

void Viewfinder::refreshBusy() {
    if (!m_studio.previewLoading()) {
        m_busyDelay.stop();
        return setBusy(false);
    }
    const qint64 left = busyAfterMs - m_sinceKey.elapsed();
    if (left <= 0) setBusy(true);
    else m_busyDelay.start(int(left));
}

void Viewfinder::setBusy(bool on) {
    if (on == m_busy) return;
    m_busy = on;
    if (on) m_busySpin.start();
    else m_busySpin.stop();
    update();
}

Shape Viewfinder::stageShape() const { return m_shownKey ? m_shownKey->shape : m_studio.previewShape(); }

QRectF Viewfinder::pictureRect(Shape shape) const {
    const QRectF area = QRectF(rect()).adjusted(40, 14, -40, -(slateHeight + m_bottomRoom));
    if (area.width() <= 0 || area.height() <= 0) return {};
    const QSizeF a = shapeAspect(shape);
    const qreal scale = std::min(area.width() / a.width(), area.height() / a.height());
    const QSizeF size = a * scale;
    return {area.center() - QPointF(size.width() / 2, size.height() / 2), size};
}

QRectF Viewfinder::stageRect() const {
    const QRectF to = pictureRect(stageShape());
    if (m_previous.isNull() || !m_previousKey || to.isEmpty()) return to;
    const QRectF from = pictureRect(m_previousKey->shape);
    const qreal t = QEasingCurve(QEasingCurve::InOutCubic).valueForProgress(m_mix);
    auto mix = [t](qreal a, qreal b) { return a + (b - a) * t; };
    return QRectF(QPointF(mix(from.left(), to.left()), mix(from.top(), to.top())),
                  QPointF(mix(from.right(), to.right()), mix(from.bottom(), to.bottom())));
}

QRectF Viewfinder::slateRect() const {
    const QRectF stage = stageRect();
    return {stage.left() - 6, stage.bottom() + 14, stage.width() + 12, 16};
}

QString Viewfinder::slate(const QString& path, std::optional<double> seconds) {
    if (path.isEmpty()) return QStringLiteral("Drop screenshots or screen recordings");
    QString text = QFileInfo(path).fileName();
    if (seconds && kindOf(path) == Kind::video) text += QStringLiteral(" · ") + clock(*seconds);
    return text;
}

QString Viewfinder::slateFor(const Studio& studio) {
    std::optional<double> seconds;
    if (auto it = studio.durations().constFind(studio.selected()); it != studio.durations().constEnd()) seconds = *it;
    return slate(studio.selected(), seconds);
}

QString Viewfinder::slateText() const { return slateFor(m_studio); }
QString Viewfinder::shapeText() const { return shapeTitle(stageShape()); }

bool Viewfinder::showsRec() const {
    return m_studio.spin() || (!m_studio.selected().isEmpty() && kindOf(m_studio.selected()) == Kind::video);
}

double Viewfinder::recOpacity(double seconds) { return 0.6 + 0.4 * std::cos(2 * M_PI * seconds / 1.6); }

void Viewfinder::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
    const Scheme s = schemeOf(this);
    const bool dark = s == Scheme::dark;
    const QRectF stage = stageRect();
    if (stage.isEmpty()) return;

    if (m_dropping) {
        // The spill: light leaking round the stage, strongest at its edge.
        p.setPen(Qt::NoPen);
        for (int i = 12; i >= 1; --i) {
            p.setBrush(grey(1.0, (dark ? 0.05 : 0.09) * (13 - i) / 12.0));
            const qreal g = i * 2.0;
            p.drawRoundedRect(stage.adjusted(-g, -g, g, g), 6 + g, 6 + g);
        }
    }

    paintPictures(p);
    if (m_current.isNull()) {
        p.setPen(QPen(grey(dark ? 1.0 : 0.0, 0.08), 1, Qt::DashLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(stage.adjusted(0.5, 0.5, -0.5, -0.5));
    }

    // Crop marks just outside the output's corners.
    const QRectF marks = stage.adjusted(-6, -6, 6, 6);
    p.setPen(QPen(m_dropping ? textPrimary(s) : textSecondary(s), 1.5, Qt::SolidLine, Qt::SquareCap));
    const qreal a = armLength;
    for (const auto& [corner, dx, dy] :
         {std::tuple{marks.topLeft(), 1.0, 1.0}, std::tuple{marks.topRight(), -1.0, 1.0},
          std::tuple{marks.bottomLeft(), 1.0, -1.0}, std::tuple{marks.bottomRight(), -1.0, -1.0}}) {
        p.drawLine(corner, corner + QPointF(dx * a, 0));
        p.drawLine(corner, corner + QPointF(0, dy * a));
    }

    const QString error = m_studio.previewError();
    if (!error.isEmpty()) {
        p.setFont(Tok::sans(12));
        const QRectF box = stage.adjusted(24, 24, -24, -24);
        const QRectF text = p.fontMetrics().boundingRect(box.toRect(), Qt::AlignCenter | Qt::TextWordWrap, error);
        p.setPen(Qt::NoPen);
        p.setBrush(dark ? grey(0.08, 0.85) : grey(1.0, 0.85));
        p.drawRoundedRect(text.adjusted(-10, -6, 10, 6), 7, 7);
        p.setPen(textSecondary(s));
        p.drawText(box, Qt::AlignCenter | Qt::TextWordWrap, error);
    }

    if (m_busy) paintBusy(p, stage);

    if (showsRec()) {
        const double t = QDateTime::currentMSecsSinceEpoch() / 1000.0;
        const QRectF dot(stage.left() + 12, stage.top() + 12, 5, 5);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 69, 58));
        p.setOpacity(recOpacity(t));
        p.drawEllipse(dot);
        p.setOpacity(1);
        p.setFont(Tok::mono());
        p.setPen(textSecondary(s));
        p.drawText(QRectF(dot.right() + 5, dot.center().y() - 8, 40, 16), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("REC"));
    }

    // The slate: what is shown, and as which output.
    p.setFont(Tok::mono());
    p.setPen(textSecondary(s));
    const QRectF slate = slateRect();
    const QString right = shapeText();
    const qreal rightW = p.fontMetrics().horizontalAdvance(right);
    const qreal leftW = std::max<qreal>(0, slate.width() - rightW - 16);
    p.drawText(QRectF(slate.left(), slate.top(), leftW, slate.height()), Qt::AlignLeft | Qt::AlignVCenter,
               p.fontMetrics().elidedText(slateText(), Qt::ElideMiddle, int(leftW)));
    p.drawText(slate, Qt::AlignRight | Qt::AlignVCenter, right);
}

void Viewfinder::paintPictures(QPainter& p) {
    // Each picture keeps its own shape. Over the new picture's box the old one lies whole under
    // the fading-in new one; where only the old one reaches it fades out over the backdrop. So
    // every pixel goes from old to new in one straight blend, whatever the two shapes.
    const QRectF now = pictureRect(stageShape());
    if (!m_previous.isNull()) {
        const QRectF before = pictureRect(m_previousKey ? m_previousKey->shape : stageShape());
        const QRect inside = now.toAlignedRect();
        p.save();
        p.setClipRect(inside);
        p.drawImage(before, m_previous);
        p.setClipRegion(QRegion(before.toAlignedRect()).subtracted(QRegion(inside)));
        p.setOpacity(1 - m_mix);
        p.drawImage(before, m_previous);
        p.restore();
    }
    if (m_current.isNull()) return;
    p.save();
    p.setOpacity(m_previous.isNull() ? 1.0 : m_mix);
    p.drawImage(now, m_current);
    p.restore();
}

void Viewfinder::paintBusy(QPainter& p, const QRectF& stage) {
    // Quiet on purpose: a small turning arc on a soft disc, the old picture left as it is.
    const Scheme s = schemeOf(this);
    const QPointF c = stage.center();
    const qreal r = 9;
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(s == Scheme::dark ? grey(0.05, 0.55) : grey(1.0, 0.6));
    p.drawEllipse(c, r + 8, r + 8);
    QColor ink = textSecondary(s), track = ink;
    track.setAlphaF(0.3f);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(track, 2));
    p.drawEllipse(c, r, r);
    p.setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(c - QPointF(r, r), QSizeF(2 * r, 2 * r)), int(-m_busyAngle * 16), 100 * 16);
    p.restore();
}
