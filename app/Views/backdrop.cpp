#include "backdrop.h"
#include "Studio/studio.h"
#include "engine/engine.h"

#include <QConicalGradient>
#include <QGridLayout>
#include <QLinearGradient>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

const QList<BackdropChoice>& backdropChoices() {
    // Deep colours that carry the dark theme's light text, two pale ones for the light theme's
    // dark text, and a gradient for each.
    static const QList<BackdropChoice> list{
        {QStringLiteral("Theme"), {}},
        {QStringLiteral("Midnight"), Backdrop::solid(0x14213d)},
        {QStringLiteral("Cobalt"), Backdrop::solid(0x2f54c8)},
        {QStringLiteral("Teal"), Backdrop::solid(0x115e67)},
        {QStringLiteral("Plum"), Backdrop::solid(0x4a2450)},
        {QStringLiteral("Coral"), Backdrop::solid(0xe8705f)},
        {QStringLiteral("Sand"), Backdrop::solid(0xeee4d3)},
        {QStringLiteral("Dusk"), Backdrop::gradient(0x1b3a6b, 0x0d1b33)},
        {QStringLiteral("Dawn"), Backdrop::gradient(0xfbe2cf, 0xf0a39a)},
    };
    return list;
}

QColor rgbColour(quint32 rgb) { return QColor::fromRgb(QRgb(0xff000000u | rgb)); }

void paintBackdrop(QPainter& p, const QRectF& r, qreal radius, const Backdrop& b, Theme theme) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    if (b.isTheme()) {
        p.setBrush(grey(Engine::backdrop(theme)));
    } else {
        QLinearGradient g(r.topLeft(), r.bottomLeft());
        g.setColorAt(0, rgbColour(b.stops.first()));
        g.setColorAt(1, rgbColour(b.stops.last()));
        p.setBrush(g);
    }
    p.drawRoundedRect(r, radius, radius);
    // A mid-grey hairline keeps a swatch close to the clay's own grey visible in either appearance.
    p.setPen(QPen(grey(0.5, 0.45), 0.75));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r.adjusted(0.25, 0.25, -0.25, -0.25), radius, radius);
    p.restore();
}

namespace {

bool inPalette(const Backdrop& b) {
    const auto& list = backdropChoices();
    return std::any_of(list.begin(), list.end(), [&](const BackdropChoice& c) { return c.backdrop == b; });
}

}  // namespace

// ---- Swatch

Swatch::Swatch(Studio& studio, const BackdropChoice& choice, bool custom, QWidget* parent)
    : ClayAbstractButton(parent), m_studio(studio), m_backdrop(choice.backdrop), m_custom(custom) {
    setFixedSize(side, side);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(choice.name);
    setToolTip(choice.backdrop.isTheme() || custom ? choice.name : choice.name + "  " + choice.backdrop.text());
}

void Swatch::setBackdrop(const Backdrop& b) {
    m_backdrop = b;
    update();
}

void Swatch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const Scheme s = schemeOf(this);
    const QRectF r = QRectF(rect()).adjusted(3, 3, -3, -3);
    const Backdrop current = m_studio.backdrop();
    const bool chosen = m_custom ? !inPalette(current) : current == m_backdrop;
    if (m_custom && !chosen) {
        // A colour wheel: any colour of the user's own.
        QConicalGradient wheel(r.center(), 90);
        for (int i = 0; i <= 6; ++i) wheel.setColorAt(i / 6.0, QColor::fromHsvF(float(i % 6) / 6, 0.55f, 0.95f));
        p.setPen(Qt::NoPen);
        p.setBrush(wheel);
        p.drawEllipse(r);
        p.setBrush(grey(clayBase(s)));
        p.drawEllipse(r.adjusted(5, 5, -5, -5));
    } else {
        paintBackdrop(p, r, 6, m_custom ? current : m_backdrop, m_studio.theme());
    }
    if (chosen || press() != Press::none) {
        p.setPen(QPen(chosen ? textPrimary(s) : textSecondary(s), chosen ? 1.5 : 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 8, 8);
    }
}

// ---- BackdropPalette

BackdropPalette::BackdropPalette(Studio& studio, QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint), m_studio(studio) {
    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(12, 10, 12, 12);
    col->setSpacing(8);
    auto* header = new TextLine(Tok::mono(), TextLine::Role::secondary, this);
    header->setText(QStringLiteral("// Backdrop"));
    col->addWidget(header);
    auto* grid = new QGridLayout;
    grid->setSpacing(6);
    col->addLayout(grid);

    const auto& choices = backdropChoices();
    for (qsizetype i = 0; i <= choices.size(); ++i) {
        const bool custom = i == choices.size();
        auto* swatch =
            new Swatch(m_studio, custom ? BackdropChoice{QStringLiteral("Custom…"), {}} : choices[i], custom, this);
        grid->addWidget(swatch, int(i / columns), int(i % columns));
        m_swatches << swatch;
        connect(swatch, &QAbstractButton::clicked, this, [this, swatch, custom] {
            close();
            if (custom) m_studio.chooseBackdrop();
            else m_studio.setBackdrop(swatch->backdrop());
        });
    }
    setFixedSize(sizeHint());
    connect(&m_studio, &Studio::settingsChanged, this, &BackdropPalette::refresh);
}

void BackdropPalette::refresh() {
    custom()->setBackdrop(m_studio.backdrop());
    for (Swatch* s : m_swatches) s->update();
}

void BackdropPalette::showEvent(QShowEvent*) { refresh(); }

void BackdropPalette::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const Scheme s = schemeOf(this);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.fillRect(rect(), grey(clayBase(s)));
    p.setPen(QPen(dividerColour(s), 1));
    p.drawRect(r);
}

// ---- BackdropKey

BackdropKey::BackdropKey(Studio& studio, QWidget* parent) : ClayAbstractButton(parent), m_studio(studio) {
    setFixedSize(side, side);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(QStringLiteral("Backdrop"));
    setToolTip(QStringLiteral("Backdrop"));
    m_palette = new BackdropPalette(m_studio, this);
    connect(this, &QAbstractButton::clicked, this, &BackdropKey::open);
    connect(&m_studio, &Studio::settingsChanged, this, qOverload<>(&QWidget::update));
}

void BackdropKey::open() {
    // Under the key, flush with its right edge, so that it stays over the sidebar.
    m_palette->move(mapToGlobal(QPoint(width() - m_palette->width(), height() + 6)));
    m_palette->show();
}

void BackdropKey::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const Scheme s = schemeOf(this);
    const double base = clayBase(s) * (press() == Press::hover ? 1.02 : 1.0);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    paintTray(p, r, Segmented::trayRadius, s, base);
    const QRectF chip = r.adjusted(5, 5, -5, -5);
    paintBackdrop(p, chip, Segmented::trayRadius - 5, m_studio.backdrop(), m_studio.theme());
    if (isDown()) p.fillRect(chip, grey(0.0, 0.08));
}
