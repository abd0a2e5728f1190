#include "canvas.h"
#include "backdrop.h"
#include "labels.h"
#include "scrollbar.h"
#include "Studio/studio.h"
#include "engine/engine.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QScrollArea>
#include <QScrollBar>

#include <cmath>

namespace {

Scheme schemeForTheme(Theme t) { return t == Theme::dark ? Scheme::dark : Scheme::light; }

// The small round remove button in a thumbnail's corner.
class RemoveBadge : public ClayAbstractButton {
public:
    using ClayAbstractButton::ClayAbstractButton;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
        // A dark rim keeps the white disc readable on light thumbnails.
        p.setPen(Qt::NoPen);
        p.setBrush(grey(0.0, 0.35));
        p.drawEllipse(r.adjusted(-0.5, -0.5, 0.5, 0.5));
        paintGlyph(p, Glyph::xmarkCircle, r, grey(isDown() ? 0.8 : m_hover ? 1.0 : 0.93));
    }
};

}  // namespace

// ---- Thumb

Thumb::Thumb(Studio& studio, const Input& input, QWidget* parent)
    : ClayAbstractButton(parent), m_studio(studio), m_input(input) {
    setFixedSize(side + 8, side + 8);
    setCursor(Qt::PointingHandCursor);
    const QString name = QFileInfo(input.path).fileName();
    setAccessibleName(name);
    m_remove = new RemoveBadge(this);
    m_remove->setFixedSize(20, 20);
    m_remove->move(width() - 21, 1);
    m_remove->setAccessibleName(QStringLiteral("Remove ") + name);
    m_remove->setToolTip(QStringLiteral("Remove ") + name);
    m_remove->hide();
    connect(m_remove, &QAbstractButton::clicked, this, [this] {
        const Input in = m_input;  // this cell goes away with the input
        m_studio.remove(in);
    });
    connect(this, &QAbstractButton::clicked, this, [this] { m_studio.setSelected(m_input.path); });
    refresh();
}

QString Thumb::help(const QString& fileName, std::optional<double> seconds) {
    if (seconds && *seconds > 60.5)
        return fileName + QStringLiteral(" — renders the first minute of ") + clock(*seconds);
    return fileName;
}

void Thumb::refresh() {
    std::optional<double> seconds;
    if (auto it = m_studio.durations().constFind(m_input.path); it != m_studio.durations().constEnd()) seconds = *it;
    setToolTip(help(QFileInfo(m_input.path).fileName(), m_input.kind == Kind::video ? seconds : std::nullopt));
    update();
}

void Thumb::showEvent(QShowEvent* e) {
    m_studio.loadThumb(m_input);
    ClayAbstractButton::showEvent(e);
}

void Thumb::enterEvent(QEnterEvent* e) {
    m_remove->show();
    ClayAbstractButton::enterEvent(e);
}

void Thumb::leaveEvent(QEvent* e) {
    m_remove->hide();
    ClayAbstractButton::leaveEvent(e);
}

void Thumb::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const Scheme s = schemeOf(this);
    const bool dark = s == Scheme::dark;
    const QRectF cell(4, 4, side, side);
    const bool selected = m_studio.selected() == m_input.path;

    if (selected) {
        p.setPen(QPen(dark ? grey(0.95) : grey(0.1), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(cell.adjusted(-2.5, -2.5, 2.5, 2.5), radius + 2.5, radius + 2.5);
    }
    QPainterPath clip;
    clip.addRoundedRect(cell, radius, radius);
    p.save();
    p.setClipPath(clip);
    const QImage img = m_studio.thumbs().value(m_input.path);
    if (img.isNull()) {
        p.fillRect(cell, dark ? grey(0.28) : grey(0.8));
    } else {
        // Fill the cell, cropping the longer side around the centre.
        const QSizeF is = img.size();
        const qreal scale = std::max(cell.width() / is.width(), cell.height() / is.height());
        const QSizeF drawn = is * scale;
        p.drawImage(QRectF(cell.center() - QPointF(drawn.width() / 2, drawn.height() / 2), drawn), img);
    }
    if (!selected) p.fillRect(cell, dark ? grey(0.0, m_hover ? 0.05 : 0.22) : grey(1.0, m_hover ? 0.0 : 0.18));
    p.restore();
    p.setPen(QPen(grey(0.0, dark ? 0.5 : 0.15), 0.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(cell.adjusted(0.25, 0.25, -0.25, -0.25), radius, radius);

    if (m_input.kind == Kind::video) {
        const QRectF badge(cell.left() + 5, cell.bottom() - 21, 16, 16);
        p.setPen(Qt::NoPen);
        p.setBrush(grey(0.0, 0.55));
        p.drawEllipse(badge);
        paintGlyph(p, Glyph::play, badge.adjusted(4.5, 4, -3.5, -4), grey(1.0));
    }
}

// ---- Filmstrip

Filmstrip::Filmstrip(Studio& studio, QWidget* parent) : QWidget(parent), m_studio(studio) {
    setFixedHeight(bottomBarHeight);
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(16, 0, 16, 4);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    scroll->viewport()->setAutoFillBackground(false);
    // The strip lies on the canvas's backdrop.
    QPalette clear = scroll->palette();
    clear.setColor(QPalette::Window, Qt::transparent);
    clear.setColor(QPalette::Base, Qt::transparent);
    scroll->setPalette(clear);
    scroll->viewport()->setPalette(clear);
    outer->addWidget(scroll);
    m_row = new QWidget;
    m_row->setAutoFillBackground(false);
    m_row->setPalette(clear);
    m_cells = new QHBoxLayout(m_row);
    m_cells->setContentsMargins(0, 0, 0, 0);
    m_cells->setSpacing(6);
    m_cells->addStretch(1);
    auto* add = new ClayButton(QString(), ClayButton::Size::regular, m_row);
    add->setGlyph(Glyph::plus);
    add->setToolTip(QStringLiteral("Add screenshots or recordings"));
    add->setAccessibleName(QStringLiteral("Add screenshots or recordings"));
    m_add = add;
    m_cells->addWidget(add);
    m_cells->addStretch(1);
    scroll->setWidget(m_row);
    // Under the cells, in the strip's empty margin.
    m_bar = ClayScrollBar::attach(scroll, Qt::Horizontal);

    connect(m_add, &QAbstractButton::clicked, &m_studio, &Studio::openFiles);
    connect(&m_studio, &Studio::inputsChanged, this, &Filmstrip::rebuild);
    connect(&m_studio, &Studio::thumbsChanged, this, [this] {
        for (Thumb* t : m_thumbs) t->refresh();
    });
    connect(&m_studio, &Studio::selectionChanged, this, [this] {
        for (Thumb* t : m_thumbs) t->update();
    });
    rebuild();
}

void Filmstrip::rebuild() {
    // Cells are kept per input, so hover and pending thumbnails survive a change of the list.
    QList<Thumb*> next;
    for (const Input& in : m_studio.inputs()) {
        auto it = std::find_if(m_thumbs.begin(), m_thumbs.end(), [&](Thumb* t) { return t->input() == in; });
        if (it != m_thumbs.end()) {
            next << *it;
            m_thumbs.erase(it);
        } else {
            next << new Thumb(m_studio, in, m_row);
        }
    }
    for (Thumb* gone : m_thumbs) gone->deleteLater();
    for (Thumb* gone : m_thumbs) m_cells->removeWidget(gone);
    m_thumbs = next;
    for (int i = 0; i < m_thumbs.size(); ++i) {
        m_cells->removeWidget(m_thumbs[i]);
        m_cells->insertWidget(1 + i, m_thumbs[i], 0, Qt::AlignVCenter);
        m_thumbs[i]->show();
    }
}

// ---- EmptyBar

EmptyBar::EmptyBar(Studio& studio, QWidget* parent) : QWidget(parent) {
    setFixedHeight(bottomBarHeight);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 0, 16, 8);
    row->setSpacing(14);
    row->addStretch(1);
    m_choose = new ClayButton(QStringLiteral("Choose Files…"), ClayButton::Size::regular, this);
    row->addWidget(m_choose);
    m_caption = new TextLine(Tok::mono(), TextLine::Role::secondary, this);
    m_caption->setText(QStringLiteral("PNG · JPG · HEIC · MOV · MP4"));
    m_caption->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    row->addWidget(m_caption);
    row->addStretch(1);
    connect(m_choose, &QAbstractButton::clicked, &studio, &Studio::openFiles);
}

QString EmptyBar::caption() const { return m_caption->text(); }

// ---- Notice

Notice::Notice(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_fade.setDuration(200);
    connect(&m_fade, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_opacity = v.toReal();
        update();
    });
    connect(&m_fade, &QVariantAnimation::finished, this, [this] {
        if (m_opacity <= 0) hide();
    });
    hide();
}

void Notice::setText(const QString& text) {
    if (text == m_text) return;
    m_text = text;
    m_fade.stop();
    m_fade.setStartValue(m_opacity);
    if (!text.isEmpty()) {
        // The bubble keeps its last text while it fades out.
        m_shown = text;
        resize(sizeHint());
        show();
    }
    m_fade.setEndValue(text.isEmpty() ? 0.0 : 1.0);
    m_fade.start();
}

QSize Notice::sizeHint() const {
    const QFontMetricsF fm(Tok::sans(12.5, QFont::Medium));
    return {int(std::ceil(fm.horizontalAdvance(m_shown))) + 28, int(std::ceil(fm.height())) + 12};
}

void Notice::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(m_opacity);
    const Scheme s = schemeOf(this);
    const bool dark = s == Scheme::dark;
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(QPen(grey(0.0, dark ? 0.5 : 0.08), 0.5));
    p.setBrush(dark ? grey(0.1, 0.94) : grey(1.0, 0.96));
    p.drawRoundedRect(r, radius, radius);
    p.setFont(Tok::sans(12.5, QFont::Medium));
    p.setPen(textPrimary(s));
    p.drawText(r, Qt::AlignCenter, QFontMetricsF(p.font()).elidedText(m_shown, Qt::ElideMiddle, r.width() - 20));
}

// ---- CanvasView

Wash CanvasView::backdropFor(Theme t, const Backdrop& b) {
    if (b.isTheme()) return {grey(Engine::backdrop(t)), grey(Engine::backdrop(t))};
    return {rgbColour(b.stops.first()), rgbColour(b.stops.last())};
}

Scheme CanvasView::schemeFor(Theme t, const Backdrop& b) {
    if (b.isTheme()) return schemeForTheme(t);
    const Wash w = backdropFor(t, b);
    // Rec. 709 luma of the wash's middle, on the encoded values.
    auto luma = [](const QColor& c) { return 0.2126 * c.redF() + 0.7152 * c.greenF() + 0.0722 * c.blueF(); };
    return (luma(w.top) + luma(w.bottom)) / 2 < 0.5 ? Scheme::dark : Scheme::light;
}

namespace {

QColor mix(const QColor& a, const QColor& b, double t) {
    QColor c;
    c.setRgbF(float(a.redF() + (b.redF() - a.redF()) * t), float(a.greenF() + (b.greenF() - a.greenF()) * t),
              float(a.blueF() + (b.blueF() - a.blueF()) * t));
    return c;
}

}  // namespace

CanvasView::CanvasView(Studio& studio, QWidget* parent) : QWidget(parent), m_studio(studio) {
    setMinimumWidth(940 - 301);
    m_wash = m_to = backdropFor(m_studio.theme(), m_studio.backdrop());
    setSchemeOverride(this, schemeFor(m_studio.theme(), m_studio.backdrop()));
    m_recolour.setDuration(350);
    m_recolour.setEasingCurve(QEasingCurve::InOutQuad);
    m_recolour.setStartValue(0.0);
    m_recolour.setEndValue(1.0);
    connect(&m_recolour, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        const double t = v.toDouble();
        m_wash = t >= 1 ? m_to : Wash{mix(m_from.top, m_to.top, t), mix(m_from.bottom, m_to.bottom, t)};
        update();
    });

    m_picker = new Segmented(this);
    m_viewfinder = new Viewfinder(m_studio, this);
    m_strip = new Filmstrip(m_studio, this);
    m_empty = new EmptyBar(m_studio, this);
    m_notice = new Notice(this);
    connect(m_picker, &Segmented::activated, this, [this](int i) {
        if (i >= 0 && i < m_pickerShapes.size()) m_studio.setPreviewShape(m_pickerShapes[i]);
    });

    connect(&m_studio, &Studio::settingsChanged, this, [this] {
        recolour();
        refreshPicker();
    });
    connect(&m_studio, &Studio::previewShapeChanged, this, &CanvasView::refreshPicker);
    connect(&m_studio, &Studio::inputsChanged, this, &CanvasView::refreshBottom);
    connect(&m_studio, &Studio::noticeChanged, this, [this] {
        m_notice->setText(m_studio.notice());
        layoutChildren();
    });
    // Every change of the preview key restarts the preview; the first one runs once the event
    // loop is up.
    connect(&m_studio, &Studio::previewKeyChanged, &m_studio, &Studio::restartPreview);
    QTimer::singleShot(0, &m_studio, &Studio::restartPreview);

    refreshPicker();
    refreshBottom();
}

void CanvasView::recolour() {
    setSchemeOverride(this, schemeFor(m_studio.theme(), m_studio.backdrop()));
    const Wash target = backdropFor(m_studio.theme(), m_studio.backdrop());
    if (target == m_to) return;
    m_recolour.stop();
    m_from = m_wash;
    m_to = target;
    m_recolour.start();
}

void CanvasView::refreshPicker() {
    const QList<Shape> shapes = m_studio.orderedShapes();
    if (shapes != m_pickerShapes) {
        m_pickerShapes = shapes;
        QList<Segmented::Option> options;
        for (Shape s : shapes)
            options << Segmented::Option{{},
                                         [s](QPainter& p, const QRectF& r, const QColor& c) {
                                             paintShapeGlyph(p, s, r.adjusted(-3, -3, 3, 3), c);
                                         },
                                         shapeTitle(s)};
        m_picker->setOptions(options);
        m_picker->resize(m_picker->sizeHint());
    }
    m_picker->setSelected(int(m_pickerShapes.indexOf(m_studio.previewShape())));
    layoutChildren();
}

void CanvasView::refreshBottom() {
    const bool any = !m_studio.inputs().isEmpty();
    m_strip->setVisible(any);
    m_empty->setVisible(!any);
    layoutChildren();
}

void CanvasView::layoutChildren() {
    const int w = width(), h = height();
    m_picker->move((w - m_picker->width()) / 2, 12);
    const int bottom = bottomBarHeight;
    m_strip->setGeometry(0, h - bottom, w, bottom);
    m_empty->setGeometry(0, h - bottom, w, bottom);
    const int top = 12 + Segmented::fixedHeight;
    // The notice floats just above the bottom bar, dipping into the bar's empty top margin, in
    // room the viewfinder keeps free under its slate: it hides neither the caption nor the strip.
    constexpr int dip = 6, gap = 4;
    const QSize ns = m_notice->sizeHint().boundedTo(QSize(std::max(0, w - 40), 100));
    m_viewfinder->setBottomRoom(ns.height() - dip + gap);
    m_viewfinder->setGeometry(0, top, w, std::max(0, h - bottom - top));
    m_notice->setGeometry((w - ns.width()) / 2, h - bottom + dip - ns.height(), ns.width(), ns.height());
    m_notice->raise();
}

void CanvasView::resizeEvent(QResizeEvent*) { layoutChildren(); }

void CanvasView::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) emit backgroundPressed();
    QWidget::mousePressEvent(e);
}

void CanvasView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (m_wash.top == m_wash.bottom) return p.fillRect(rect(), m_wash.top);
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, m_wash.top);
    g.setColorAt(1, m_wash.bottom);
    p.fillRect(rect(), g);
}
