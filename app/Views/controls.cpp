#include "controls.h"
#include "labels.h"

#include <QEnterEvent>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>
#include <QToolTip>

#include <cmath>

Scheme schemeOf(const QWidget* w) {
    for (; w; w = w->parentWidget()) {
        const QVariant v = w->property("scheme");
        if (v.isValid()) return Scheme(v.toInt());
    }
    return currentScheme();
}

void setSchemeOverride(QWidget* w, Scheme s) {
    if (w->property("scheme") == QVariant(int(s))) return;
    w->setProperty("scheme", int(s));
    w->update();
    for (QWidget* child : w->findChildren<QWidget*>()) child->update();
}

void paintShapeGlyph(QPainter& p, Shape s, const QRectF& box, const QColor& c) {
    const QSizeF a = shapeAspect(s);
    const qreal scale = std::min(box.width() / a.width(), box.height() / a.height()) * 0.9;
    const QSizeF size(a.width() * scale, a.height() * scale);
    const QRectF frame(box.center() - QPointF(size.width() / 2, size.height() / 2), size);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(c, 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(frame.adjusted(0.6, 0.6, -0.6, -0.6), 2, 2);
    // The device: whole and small for the full layouts, large and cut by the frame for close-ups.
    const bool closeup = shapeCloseup(s);
    const qreal dh = closeup ? frame.height() * 0.95 : frame.height() * 0.6;
    const qreal dw = dh * 0.48;
    QRectF device(frame.center().x() - dw / 2,
                  closeup ? frame.top() + frame.height() * 0.3 : frame.center().y() - dh / 2, dw, dh);
    p.setClipRect(frame.adjusted(1, 1, -1, -1));
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(device, dw * 0.22, dw * 0.22);
    p.restore();
}

// ---- TextLine

TextLine::TextLine(const QFont& font, Role role, QWidget* parent) : QWidget(parent), m_role(role) {
    setFont(font);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TextLine::setText(const QString& text) {
    if (text == m_text) return;
    m_text = text;
    updateGeometry();
    update();
}

void TextLine::setElide(Qt::TextElideMode mode) {
    m_elide = mode;
    setSizePolicy(QSizePolicy::Preferred, mode == Qt::ElideNone ? QSizePolicy::Minimum : QSizePolicy::Fixed);
    updateGeometry();
}

void TextLine::setAlignment(Qt::Alignment a) {
    m_align = a;
    update();
}

QString TextLine::shownText() const {
    if (m_elide == Qt::ElideNone) return m_text;
    return QFontMetricsF(font()).elidedText(m_text, m_elide, width());
}

QSize TextLine::sizeHint() const {
    const QFontMetricsF fm(font());
    return {int(std::ceil(fm.horizontalAdvance(m_text))), int(std::ceil(fm.height()))};
}

QSize TextLine::minimumSizeHint() const { return {0, sizeHint().height()}; }

int TextLine::heightForWidth(int w) const {
    const QFontMetricsF fm(font());
    return int(std::ceil(fm.boundingRect(QRectF(0, 0, w, 1e6), Qt::TextWordWrap, m_text).height()));
}

void TextLine::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    const Scheme s = schemeOf(this);
    p.setPen(m_role == Role::primary ? textPrimary(s) : textSecondary(s));
    if (m_elide == Qt::ElideNone) p.drawText(rect(), int(m_align) | Qt::TextWordWrap, m_text);
    else p.drawText(rect(), int(m_align), shownText());
}

// ---- ClayAbstractButton

Press ClayAbstractButton::press() const {
    if (isDown()) return Press::down;
    return m_hover && isEnabled() ? Press::hover : Press::none;
}

void ClayAbstractButton::enterEvent(QEnterEvent* e) {
    m_hover = true;
    update();
    QAbstractButton::enterEvent(e);
}

void ClayAbstractButton::leaveEvent(QEvent* e) {
    m_hover = false;
    update();
    QAbstractButton::leaveEvent(e);
}

// ---- Segmented

Segmented::Segmented(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_slide.setDuration(animationMs);
    m_slide.setEasingCurve(QEasingCurve::InOutCubic);
    connect(&m_slide, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_key = v.toRectF();
        update();
    });
}

void Segmented::setOptions(const QList<Option>& options) {
    m_options = options;
    if (m_selected >= count()) m_selected = -1;
    m_slide.stop();
    m_key = m_selected >= 0 ? segmentRect(m_selected) : QRectF();
    updateGeometry();
    update();
}

void Segmented::setStretch(bool on) {
    m_stretch = on;
    setSizePolicy(on ? QSizePolicy::Expanding : QSizePolicy::Fixed, QSizePolicy::Fixed);
    updateGeometry();
}

qreal Segmented::naturalWidth(int index) const {
    const Option& o = m_options[index];
    if (o.title.isEmpty()) return 38;
    const qreal text = QFontMetricsF(Tok::sans(12, QFont::Medium)).horizontalAdvance(o.title);
    return text + (o.icon ? 20 : 0) + 24;
}

QSize Segmented::sizeHint() const {
    qreal w = 4;
    for (int i = 0; i < count(); ++i) w += naturalWidth(i);
    return {int(std::ceil(w)), fixedHeight};
}

QRectF Segmented::segmentRect(int index) const {
    if (index < 0 || index >= count()) return {};
    const QRectF inner = QRectF(rect()).adjusted(2, 2, -2, -2);
    if (m_stretch) {
        const qreal w = inner.width() / count();
        return {inner.left() + index * w, inner.top(), w, inner.height()};
    }
    qreal x = inner.left();
    for (int i = 0; i < index; ++i) x += naturalWidth(i);
    return {x, inner.top(), naturalWidth(index), inner.height()};
}

QRectF Segmented::keyRect() const { return sliding() ? m_key : segmentRect(m_selected); }

void Segmented::setSelected(int index) {
    if (index < -1 || index >= count()) index = -1;
    if (index == m_selected) return;
    const QRectF from = keyRect();
    m_selected = index;
    m_slide.stop();
    if (index >= 0 && !from.isEmpty() && isVisible()) {
        m_slide.setStartValue(from);
        m_slide.setEndValue(segmentRect(index));
        m_key = from;
        m_slide.start();
    }
    update();
}

int Segmented::indexAt(const QPointF& pos) const {
    for (int i = 0; i < count(); ++i)
        if (segmentRect(i).contains(pos)) return i;
    return -1;
}

void Segmented::mouseMoveEvent(QMouseEvent* e) {
    const int i = indexAt(e->position());
    if (i != m_hover) {
        m_hover = i;
        update();
    }
}

void Segmented::mousePressEvent(QMouseEvent* e) {
    m_pressed = e->button() == Qt::LeftButton ? indexAt(e->position()) : -1;
    update();
}

void Segmented::mouseReleaseEvent(QMouseEvent* e) {
    const int i = indexAt(e->position());
    const bool hit = i >= 0 && i == m_pressed;
    m_pressed = -1;
    update();
    if (hit) emit activated(i);
}

void Segmented::leaveEvent(QEvent*) {
    m_hover = -1;
    update();
}

bool Segmented::event(QEvent* e) {
    if (e->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(e);
        const int i = indexAt(help->pos());
        if (i >= 0 && !m_options[i].tip.isEmpty()) QToolTip::showText(help->globalPos(), m_options[i].tip, this);
        else QToolTip::hideText();
        return true;
    }
    return QWidget::event(e);
}

void Segmented::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const Scheme s = schemeOf(this);
    const double base = clayBase(s);
    paintTray(p, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), trayRadius, s, base);
    const QRectF key = keyRect();
    if (!key.isEmpty()) paintKey(p, key, trayRadius - 2, s, base, m_pressed == m_selected ? Press::down : Press::none);
    p.setFont(Tok::sans(12, QFont::Medium));
    for (int i = 0; i < count(); ++i) {
        const QRectF r = segmentRect(i);
        const bool on = i == m_selected;
        if (!on && (i == m_hover || i == m_pressed)) {
            p.setPen(Qt::NoPen);
            p.setBrush(s == Scheme::dark ? grey(1.0, 0.06) : grey(0.0, 0.05));
            p.drawRoundedRect(r.adjusted(1, 1, -1, -1), trayRadius - 3, trayRadius - 3);
        }
        const QColor ink = on ? textPrimary(s) : textSecondary(s);
        const Option& o = m_options[i];
        const QFontMetricsF fm(p.font());
        const qreal textW = o.title.isEmpty() ? 0 : fm.horizontalAdvance(o.title);
        const qreal iconW = o.icon ? 14 : 0;
        const qreal gap = (iconW > 0 && textW > 0) ? 6 : 0;
        qreal x = r.center().x() - (iconW + gap + textW) / 2;
        if (o.icon) {
            o.icon(p, QRectF(x, r.center().y() - 7, 14, 14), ink);
            x += iconW + gap;
        }
        if (textW > 0) {
            p.setPen(ink);
            p.drawText(QRectF(x, r.top(), textW + 1, r.height()), Qt::AlignLeft | Qt::AlignVCenter, o.title);
        }
    }
}

// ---- ClayCheck

ClayCheck::ClayCheck(QWidget* parent) : QWidget(parent) {
    setFixedSize(side, side);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ClayCheck::setOn(bool on) {
    if (on == m_on) return;
    m_on = on;
    update();
}

void ClayCheck::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const Scheme s = schemeOf(this);
    const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
    if (m_on) {
        paintInk(p, r, radius, s);
        paintGlyph(p, Glyph::checkmark, r.adjusted(2, 2, -2, -2), s == Scheme::dark ? grey(0.08) : grey(0.98));
    } else {
        paintTray(p, r, radius, s, clayBase(s));
        // A small well needs a firmer rim than a wide one to read as a box.
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(s == Scheme::dark ? grey(1.0, 0.2) : grey(0.0, 0.14), 0.75));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r.adjusted(0.4, 0.4, -0.4, -0.4), radius, radius);
    }
}

// ---- ClaySwitch

ClaySwitch::ClaySwitch(QWidget* parent) : ClayAbstractButton(parent) {
    setCheckable(true);
    setFixedSize(track);
    setCursor(Qt::PointingHandCursor);
    m_slide.setDuration(160);
    m_slide.setEasingCurve(QEasingCurve::InOutCubic);
    connect(&m_slide, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_pos = v.toReal();
        update();
    });
}

void ClaySwitch::checkStateSet() {
    // A change from the model lands at once; a click slides (nextCheckState).
    if (m_slide.state() != QAbstractAnimation::Running) m_pos = isChecked() ? 1 : 0;
    update();
}

void ClaySwitch::nextCheckState() {
    setChecked(!isChecked());
    m_slide.stop();
    m_slide.setStartValue(isChecked() ? 0.0 : 1.0);
    m_slide.setEndValue(isChecked() ? 1.0 : 0.0);
    m_slide.start();
}

QRectF ClaySwitch::knobRect() const {
    const qreal inset = (track.height() - knob.height()) / 2.0;
    const qreal travel = track.width() - knob.width() - 2 * inset;
    return {inset + travel * m_pos, inset, qreal(knob.width()), qreal(knob.height())};
}

void ClaySwitch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const Scheme s = schemeOf(this);
    const double base = clayBase(s);
    if (!isEnabled()) p.setOpacity(0.45);
    const QRectF r(0, 0, track.width(), track.height());
    paintTray(p, r, r.height() / 2, s, base);
    if (m_pos > 0) {
        p.save();
        p.setOpacity(p.opacity() * m_pos);
        paintInk(p, r.adjusted(0.5, 0.5, -0.5, -0.5), r.height() / 2, s);
        p.restore();
    }
    paintKey(p, knobRect(), knobRadius, s, base, press());
}

// ---- ClayButton

ClayButton::ClayButton(const QString& text, Size size, QWidget* parent)
    : ClayAbstractButton(parent), m_small(size == Size::small) {
    setText(text);
    setFont(Tok::sans(m_small ? 12 : 13, QFont::Medium));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

void ClayButton::setProminent(bool on) {
    m_prominent = on;
    update();
}

void ClayButton::setGlyph(std::optional<Glyph> g) {
    m_glyph = g;
    updateGeometry();
    update();
}

QSize ClayButton::sizeHint() const {
    const qreal h = m_small ? 24 : 32;
    const qreal pad = m_small ? 10 : 14;
    const qreal textW = QFontMetricsF(font()).horizontalAdvance(text());
    const qreal glyphW = m_glyph ? (text().isEmpty() ? 14 : 20) : 0;
    const qreal w = text().isEmpty() ? h : textW + glyphW + 2 * pad;
    return {int(std::ceil(w)), int(h)};
}

void ClayButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const Scheme s = schemeOf(this);
    if (!isEnabled()) p.setOpacity(0.45);
    const QRectF r = QRectF(rect()).adjusted(1.5, 1, -1.5, -2);
    if (m_prominent) paintInk(p, r, radius(), s, press());
    else paintKey(p, r, radius(), s, clayBase(s), press());
    const QColor ink = m_prominent ? (s == Scheme::dark ? grey(0.06) : grey(0.98)) : textPrimary(s);
    const QFontMetricsF fm(font());
    const qreal textW = fm.horizontalAdvance(text());
    const qreal glyphW = m_glyph ? 14 : 0, gap = (m_glyph && textW > 0) ? 6 : 0;
    qreal x = r.center().x() - (glyphW + gap + textW) / 2;
    if (m_glyph) {
        paintGlyph(p, *m_glyph, QRectF(x, r.center().y() - 6, 12, 12), ink);
        x += glyphW + gap;
    }
    p.setPen(ink);
    p.setFont(font());
    p.drawText(QRectF(x, r.top(), textW + 2, r.height()), Qt::AlignLeft | Qt::AlignVCenter, text());
}

// ---- RenderButton

RenderButton::RenderButton(QWidget* parent) : ClayAbstractButton(parent) {
    setFont(Tok::sans(13, QFont::DemiBold));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(fixedHeight);
    setCursor(Qt::PointingHandCursor);
}

void RenderButton::setProminent(bool on) {
    m_prominent = on;
    update();
}

QSize RenderButton::sizeHint() const { return {200, fixedHeight}; }

void RenderButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const Scheme s = schemeOf(this);
    const bool enabled = isEnabled();
    const QRectF r = QRectF(rect()).adjusted(1.5, 1, -1.5, -2);
    if (!enabled) {
        // Dimmed: a flat key, so that it reads as unavailable rather than pressed.
        p.setOpacity(0.5);
        paintKey(p, r, radius, s, clayBase(s), Press::none, true);
    } else if (m_prominent) {
        paintInk(p, r, radius, s, press());
    } else {
        paintKey(p, r, radius, s, clayBase(s), press());
    }
    p.setPen(QPen(grey(0.0, s == Scheme::dark ? 0.6 : 0.18), 0.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r.adjusted(0.25, 0.25, -0.25, -0.25), radius, radius);
    const bool onInk = enabled && m_prominent;
    p.setPen(onInk ? (s == Scheme::dark ? grey(0.06) : grey(0.98)) : textPrimary(s));
    p.setFont(font());
    p.drawText(r, Qt::AlignCenter, text());
}

// ---- ProgressTrack

ProgressTrack::ProgressTrack(QWidget* parent) : QWidget(parent) {
    setFixedHeight(fixedHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_ease.setDuration(300);
    m_ease.setEasingCurve(QEasingCurve::OutCubic);
    connect(&m_ease, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_shown = v.toDouble();
        update();
    });
}

void ProgressTrack::setFraction(double f) {
    f = std::isfinite(f) ? std::clamp(f, 0.0, 1.0) : 0.0;
    if (f == m_target) return;
    m_target = f;
    m_ease.stop();
    if (f < m_shown || !isVisible()) {
        m_shown = f;  // a new run starts empty at once
        update();
        return;
    }
    m_ease.setStartValue(m_shown);
    m_ease.setEndValue(f);
    m_ease.start();
}

void ProgressTrack::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const Scheme s = schemeOf(this);
    const QRectF r(0, 0, width(), fixedHeight);
    paintTray(p, r, fixedHeight / 2.0, s, clayBase(s));
    if (m_shown <= 0) return;
    const qreal w = std::max<qreal>(fixedHeight, r.width() * m_shown);
    paintInk(p, QRectF(0, 0, w, fixedHeight), fixedHeight / 2.0, s);
}
