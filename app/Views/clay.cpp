#include "clay.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QPaintEngine>
#include <QPainter>
#include <QPalette>
#include <QRandomGenerator>

#include <cmath>

Appearance& Appearance::shared() {
    static Appearance* a = [] {
        auto* made = new Appearance;
        made->m_scheme = fromPalette();
        return made;
    }();
    return *a;
}

void Appearance::setScheme(Scheme s) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) QApplication::setPalette(paletteFor(s));
    if (s == m_scheme) return;
    m_scheme = s;
    emit changed();
}

Scheme Appearance::fromPalette() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return Scheme::light;
    const QColor window = QGuiApplication::palette().color(QPalette::Window);
    return window.lightnessF() < 0.5 ? Scheme::dark : Scheme::light;
}

namespace Tok {

QFont mono() {
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    // Some platform plugins report a proportional face here; fontconfig's alias is then surer.
    if (!QFontInfo(f).fixedPitch()) f.setFamilies({QStringLiteral("monospace"), QStringLiteral("DejaVu Sans Mono")});
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    // Pixel sizes are whole numbers; 10.5 rounds up so that digits keep their shapes.
    f.setPixelSize(11);
    f.setWeight(QFont::Medium);
    return f;
}

QFont sans(double points, QFont::Weight weight) {
    QFont f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    f.setPixelSize(int(std::lround(points)));
    f.setWeight(weight);
    return f;
}

}  // namespace Tok

QColor grey(double level, double alpha) {
    level = std::clamp(level, 0.0, 1.0);
    QColor c;
    c.setRgbF(float(level), float(level), float(level), float(std::clamp(alpha, 0.0, 1.0)));
    return c;
}

double clayBase(Scheme s) { return s == Scheme::dark ? 0.19 : 0.965; }
QColor textPrimary(Scheme s) { return grey(s == Scheme::dark ? 0.955 : 0.045); }
QColor textSecondary(Scheme s) { return grey(s == Scheme::dark ? 0.56 : 0.45); }
QColor dividerColour(Scheme s) { return grey(s == Scheme::dark ? 0.2 : 0.86); }

QPalette paletteFor(Scheme s) {
    const bool dark = s == Scheme::dark;
    QPalette pal;
    const QColor base = grey(clayBase(s));
    pal.setColor(QPalette::Window, base);
    pal.setColor(QPalette::WindowText, textPrimary(s));
    pal.setColor(QPalette::Base, grey(dark ? 0.14 : 1.0));
    pal.setColor(QPalette::AlternateBase, grey(dark ? 0.17 : 0.95));
    pal.setColor(QPalette::Text, textPrimary(s));
    pal.setColor(QPalette::PlaceholderText, textSecondary(s));
    pal.setColor(QPalette::Button, grey(dark ? 0.24 : 0.94));
    pal.setColor(QPalette::ButtonText, textPrimary(s));
    pal.setColor(QPalette::ToolTipBase, grey(dark ? 0.24 : 0.98));
    pal.setColor(QPalette::ToolTipText, textPrimary(s));
    pal.setColor(QPalette::Highlight, grey(dark ? 0.85 : 0.2));
    pal.setColor(QPalette::HighlightedText, grey(dark ? 0.1 : 0.97));
    pal.setColor(QPalette::Light, grey(dark ? 0.3 : 1.0));
    pal.setColor(QPalette::Midlight, grey(dark ? 0.26 : 0.92));
    pal.setColor(QPalette::Mid, grey(dark ? 0.22 : 0.8));
    pal.setColor(QPalette::Dark, grey(dark ? 0.1 : 0.6));
    pal.setColor(QPalette::Shadow, grey(0.0));
    pal.setColor(QPalette::Disabled, QPalette::Text, textSecondary(s));
    pal.setColor(QPalette::Disabled, QPalette::WindowText, textSecondary(s));
    pal.setColor(QPalette::Disabled, QPalette::ButtonText, textSecondary(s));
    return pal;
}

namespace {

QPainterPath rounded(const QRectF& r, qreal radius) {
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

// A shadow cast inwards from the shape's edge, as if the outside were shifted by `dy`; the
// blur is approximated by widening strokes of falling weight.
void innerShadow(QPainter& p, const QPainterPath& shape, const QColor& c, qreal blur, qreal dy) {
    p.save();
    p.setClipPath(shape, Qt::IntersectClip);
    p.setPen(Qt::NoPen);
    QPainterPath outside;
    outside.addRect(shape.boundingRect().adjusted(-8, -8, 8, 8));
    outside = outside.subtracted(shape.translated(0, dy));
    QColor solid = c;
    solid.setAlphaF(c.alphaF() * 0.6f);
    p.fillPath(outside, solid);
    constexpr int steps = 3;
    for (int i = 0; i < steps; ++i) {
        QColor band = c;
        band.setAlphaF(c.alphaF() * 0.4f / steps);
        p.strokePath(shape.translated(0, dy), QPen(band, 2 * blur * (i + 1) / steps));
    }
    p.restore();
}

void dropShadow(QPainter& p, const QRectF& r, qreal radius, const QColor& c, qreal blur, qreal dy) {
    p.save();
    p.setPen(Qt::NoPen);
    constexpr int steps = 3;
    for (int i = steps; i >= 1; --i) {
        const qreal grow = blur * i / steps;
        QColor layer = c;
        layer.setAlphaF(c.alphaF() / steps);
        p.setBrush(layer);
        p.drawRoundedRect(r.translated(0, dy).adjusted(-grow, -grow, grow, grow), radius + grow, radius + grow);
    }
    p.restore();
}

void hairline(QPainter& p, const QRectF& r, qreal radius, const QColor& c) {
    p.save();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(c, 0.5));
    p.drawRoundedRect(r.adjusted(0.25, 0.25, -0.25, -0.25), radius, radius);
    p.restore();
}

void verticalFill(QPainter& p, const QRectF& r, qreal radius, const QColor& top, const QColor& bottom) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(r, radius, radius);
    p.restore();
}

}  // namespace

void paintTray(QPainter& p, const QRectF& r, qreal radius, Scheme s, double base) {
    const bool dark = s == Scheme::dark;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(grey(1.0, dark ? 0.05 : 0.4));
    p.drawRoundedRect(r.translated(0, 1), radius, radius);
    verticalFill(p, r, radius, grey((dark ? 0.74 : 0.92) * base), grey((dark ? 0.83 : 0.96) * base));
    innerShadow(p, rounded(r, radius), grey(0.0, dark ? 0.32 : 0.09), 1.5, 1.5);
    hairline(p, r, radius, grey(0.0, dark ? 0.2 : 0.04));
    p.restore();
}

void paintKey(QPainter& p, const QRectF& r, qreal radius, Scheme s, double base, Press state, bool flat) {
    const bool dark = s == Scheme::dark;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const double lift = state == Press::hover ? 1.03 : state == Press::down ? 0.97 : 1.0;
    double top = dark ? base * 1.55 : std::min(1.0, base * 1.035);
    double bottom = dark ? base * 1.3 : base * 0.975;
    if (state == Press::down) std::swap(top, bottom);
    if (!flat && state != Press::down) dropShadow(p, r, radius, grey(0.0, dark ? 0.45 : 0.12), 1.5, 1.0);
    verticalFill(p, r, radius, grey(top * lift), grey(bottom * lift));
    const QPainterPath shape = rounded(r, radius);
    if (!flat) {
        innerShadow(p, shape, grey(1.0, dark ? 0.14 : 0.8), 0.75, 1.0);
        innerShadow(p, shape, grey(0.0, dark ? 0.3 : 0.07), 1.5, -1.0);
    }
    paintGrain(p, shape);
    hairline(p, r, radius, grey(0.0, dark ? 0.5 : 0.1));
    p.restore();
}

void paintInk(QPainter& p, const QRectF& r, qreal radius, Scheme s, Press state) {
    // The ink is the strongest contrast to the clay: near-black on light, near-white on dark.
    const bool dark = s == Scheme::dark;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const double shift = state == Press::hover ? 0.04 : state == Press::down ? -0.04 : 0.0;
    dropShadow(p, r, radius, grey(0.0, dark ? 0.5 : 0.25), 1.5, 1.0);
    if (dark) verticalFill(p, r, radius, grey(0.93 + shift), grey(0.8 + shift));
    else verticalFill(p, r, radius, grey(0.27 + shift), grey(0.1 + shift));
    const QPainterPath shape = rounded(r, radius);
    innerShadow(p, shape, grey(1.0, dark ? 0.6 : 0.25), 0.75, 1.0);
    innerShadow(p, shape, grey(0.0, dark ? 0.25 : 0.6), 1.5, -1.0);
    paintGrain(p, shape);
    hairline(p, r, radius, grey(0.0, 0.6));
    p.restore();
}

QImage makeGrainTile(const std::function<quint8()>& randomByte) {
    QImage tile(128, 128, QImage::Format_Grayscale8);
    for (int y = 0; y < tile.height(); ++y) {
        uchar* row = tile.scanLine(y);
        for (int x = 0; x < tile.width(); ++x) {
            unsigned m;
            do m = unsigned(randomByte()) * 81u;
            while ((m & 0xFFu) < 13u);
            row[x] = uchar(88 + (m >> 8));
        }
    }
    return tile;
}

const QImage& grainTile() {
    static const QImage tile = makeGrainTile([] {
                                   return quint8(QRandomGenerator::global()->generate() & 0xFF);
                               }).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return tile;
}

void paintGrain(QPainter& p, const QPainterPath& area) {
    if (p.device() && p.paintEngine() && p.paintEngine()->type() != QPaintEngine::Raster) return;
    p.save();
    p.setClipPath(area, Qt::IntersectClip);
    p.setCompositionMode(QPainter::CompositionMode_Overlay);
    p.setOpacity(p.opacity() * 0.12);
    QBrush brush(grainTile());
    brush.setTransform(QTransform::fromScale(2, 2));
    p.fillPath(area, brush);
    p.restore();
}

void paintGlyph(QPainter& p, Glyph g, const QRectF& box, const QColor& c) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = std::min(box.width(), box.height());
    const QRectF r(box.center().x() - w / 2, box.center().y() - w / 2, w, w);
    QPen pen(c, std::max(1.2, w / 10), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QPointF o = r.topLeft();
    auto at = [&](qreal x, qreal y) { return o + QPointF(x * w, y * w); };
    switch (g) {
    case Glyph::moon: {
        QPainterPath disc, bite;
        disc.addEllipse(r.adjusted(w * 0.12, w * 0.12, -w * 0.12, -w * 0.12));
        bite.addEllipse(QRectF(at(0.36, 0.0), QSizeF(w * 0.7, w * 0.7)));
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawPath(disc.subtracted(bite));
        break;
    }
    case Glyph::sun: {
        p.drawEllipse(r.center(), w * 0.18, w * 0.18);
        for (int i = 0; i < 8; ++i) {
            const qreal a = i * M_PI / 4;
            const QPointF d(std::cos(a), std::sin(a));
            p.drawLine(r.center() + d * w * 0.34, r.center() + d * w * 0.46);
        }
        break;
    }
    case Glyph::waveform: {
        const qreal heights[] = {0.25, 0.55, 0.85, 0.45, 0.7, 0.3};
        for (int i = 0; i < 6; ++i) {
            const qreal x = 0.12 + i * 0.152, h = heights[i];
            p.drawLine(at(x, 0.5 - h / 2), at(x, 0.5 + h / 2));
        }
        break;
    }
    case Glyph::folder: {
        QPainterPath path;
        path.moveTo(at(0.06, 0.82));
        path.lineTo(at(0.06, 0.2));
        path.lineTo(at(0.38, 0.2));
        path.lineTo(at(0.48, 0.32));
        path.lineTo(at(0.94, 0.32));
        path.lineTo(at(0.94, 0.82));
        path.closeSubpath();
        p.drawPath(path);
        p.drawLine(at(0.06, 0.44), at(0.94, 0.44));
        break;
    }
    case Glyph::xmark:
        p.drawLine(at(0.22, 0.22), at(0.78, 0.78));
        p.drawLine(at(0.78, 0.22), at(0.22, 0.78));
        break;
    case Glyph::xmarkCircle: {
        // The cross is cut out of the disc so that the thumbnail under it shows through.
        QPainterPath disc, cross;
        disc.addEllipse(r);
        QPainterPathStroker stroker;
        stroker.setWidth(w * 0.12);
        stroker.setCapStyle(Qt::RoundCap);
        QPainterPath lines;
        lines.moveTo(at(0.33, 0.33));
        lines.lineTo(at(0.67, 0.67));
        lines.moveTo(at(0.67, 0.33));
        lines.lineTo(at(0.33, 0.67));
        cross = stroker.createStroke(lines);
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawPath(disc.subtracted(cross));
        break;
    }
    case Glyph::checkmark: {
        QPainterPath path;
        path.moveTo(at(0.18, 0.52));
        path.lineTo(at(0.42, 0.75));
        path.lineTo(at(0.82, 0.25));
        p.drawPath(path);
        break;
    }
    case Glyph::plus:
        p.drawLine(at(0.5, 0.18), at(0.5, 0.82));
        p.drawLine(at(0.18, 0.5), at(0.82, 0.5));
        break;
    case Glyph::play: {
        QPainterPath path;
        path.moveTo(at(0.25, 0.15));
        path.lineTo(at(0.85, 0.5));
        path.lineTo(at(0.25, 0.85));
        path.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawPath(path);
        break;
    }
    }
    p.restore();
}
