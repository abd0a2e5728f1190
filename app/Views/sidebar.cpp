#include "sidebar.h"
#include "backdrop.h"
#include "caption.h"
#include "labels.h"
#include "scrollbar.h"
#include "Studio/studio.h"

#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {
// The recessed one-line fields: the sound and the output name.
constexpr int fieldHeight = 28;
}  // namespace

// ---- Lever

Lever::Lever(const QString& title, QWidget* parent) : QWidget(parent) {
    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(20, 6, 20, 5);
    col->setSpacing(4);
    m_header = new TextLine(Tok::mono(), TextLine::Role::secondary, this);
    m_header->setText(QStringLiteral("// ") + title);
    m_headerRow = new QHBoxLayout;
    m_headerRow->setContentsMargins(0, 0, 0, 0);
    m_headerRow->addWidget(m_header, 1);
    col->addLayout(m_headerRow);
    m_content = new QVBoxLayout;
    m_content->setContentsMargins(0, 0, 0, 0);
    m_content->setSpacing(6);
    col->addLayout(m_content);
}

QString Lever::title() const { return m_header->text(); }

void Lever::setAccessory(QWidget* w) {
    w->setParent(this);
    m_headerRow->addWidget(w, 0, Qt::AlignRight | Qt::AlignVCenter);
}

// ---- ShapeRow

ShapeRow::ShapeRow(Studio& studio, Shape shape, QWidget* parent)
    : ClayAbstractButton(parent), m_studio(studio), m_shape(shape) {
    setText(shapeTitle(shape));
    setAccessibleName(shapeTitle(shape));
    setFixedHeight(rowHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    m_check = new ClayCheck(this);
    m_check->move(8, (rowHeight - ClayCheck::side) / 2);
    m_check->setOn(isOn());
    connect(this, &QAbstractButton::clicked, this, [this] { m_studio.toggle(m_shape); });
    connect(&m_studio, &Studio::settingsChanged, this, [this] { m_check->setOn(isOn()); });
}

bool ShapeRow::isOn() const { return m_studio.hasShape(m_shape); }

void ShapeRow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const Scheme s = schemeOf(this);
    const QRectF r = rect();
    if (press() != Press::none) {
        p.setPen(Qt::NoPen);
        p.setBrush(s == Scheme::dark ? grey(1.0, isDown() ? 0.09 : 0.05) : grey(0.0, isDown() ? 0.07 : 0.04));
        p.drawRoundedRect(r, 8, 8);
    }
    const QColor ink = isOn() ? textPrimary(s) : textSecondary(s);
    paintShapeGlyph(p, m_shape, QRectF(34, (r.height() - 20) / 2, 20, 20), ink);
    p.setFont(Tok::sans(13));
    p.setPen(ink);
    p.drawText(r.adjusted(64, 0, -50, 0), Qt::AlignLeft | Qt::AlignVCenter, text());
    p.setFont(Tok::mono());
    p.setPen(textSecondary(s));
    p.drawText(r.adjusted(0, 0, -10, 0), Qt::AlignRight | Qt::AlignVCenter, aspectTag(m_shape));
}

// ---- AudioRow

namespace {

// The sound row's face: a recessed field holding the waveform and the file name.
class SoundField : public ClayAbstractButton {
public:
    using ClayAbstractButton::ClayAbstractButton;
    QSize sizeHint() const override { return {240, fieldHeight}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const Scheme s = schemeOf(this);
        const double base = clayBase(s) * (press() == Press::hover ? 1.02 : 1.0);
        paintTray(p, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -1.5), 8, s, base);
        const bool set = property("set").toBool();
        paintGlyph(p, Glyph::waveform, QRectF(10, (height() - 14) / 2.0 - 0.5, 14, 14),
                   set ? textPrimary(s) : textSecondary(s));
        p.setFont(Tok::sans(12.5));
        p.setPen(set ? textPrimary(s) : textSecondary(s));
        const QRectF textRect = QRectF(rect()).adjusted(32, 0, -(set ? 34 : 10), -1);
        p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetricsF(p.font()).elidedText(text(), Qt::ElideMiddle, textRect.width()));
    }
};

}  // namespace

AudioRow::AudioRow(Studio& studio, QWidget* parent) : QWidget(parent), m_studio(studio) {
    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(6);
    m_row = new SoundField(this);
    m_row->setFixedHeight(fieldHeight);
    m_row->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_row->setCursor(Qt::PointingHandCursor);
    m_row->setToolTip(QStringLiteral("Choose a sound"));
    col->addWidget(m_row);
    m_clear = new ClayButton(QString(), ClayButton::Size::small, m_row);
    m_clear->setGlyph(Glyph::xmark);
    m_clear->setAccessibleName(QStringLiteral("Remove sound"));
    m_clear->setToolTip(QStringLiteral("Remove sound"));
    m_caption = new TextLine(Tok::sans(11.5), TextLine::Role::secondary, this);
    m_caption->setElide(Qt::ElideNone);
    col->addWidget(m_caption);

    m_row->installEventFilter(this);
    connect(m_row, &QAbstractButton::clicked, &m_studio, &Studio::chooseAudio);
    connect(m_clear, &QAbstractButton::clicked, this, [this] { m_studio.setAudio(QString()); });
    connect(&m_studio, &Studio::settingsChanged, this, &AudioRow::refresh);
    connect(&m_studio, &Studio::inputsChanged, this, &AudioRow::refresh);
    refresh();
}

void AudioRow::placeClear() {
    const QSize size = m_clear->sizeHint();
    m_clear->setGeometry(m_row->width() - size.width() - 5, (m_row->height() - size.height()) / 2 - 1, size.width(),
                         size.height());
}

bool AudioRow::eventFilter(QObject* watched, QEvent* e) {
    if (watched == m_row && e->type() == QEvent::Resize) placeClear();
    return QWidget::eventFilter(watched, e);
}

QString AudioRow::label() const { return m_row->text(); }
QString AudioRow::caption() const { return m_caption->text(); }
QAbstractButton* AudioRow::clearButton() const { return m_clear; }

void AudioRow::refresh() {
    const bool set = !m_studio.audio().isEmpty();
    m_row->setText(set ? QFileInfo(m_studio.audio()).fileName() : QStringLiteral("No sound"));
    m_row->setProperty("set", set);
    m_row->update();
    m_clear->setVisible(set);
    placeClear();
    m_caption->setText(m_studio.hasVideoOutput() ? QStringLiteral("Plays from the start, cut where each video ends")
                                                 : QStringLiteral("Sound lands on recordings and spin clips"));
}

// ---- ExportRows

namespace {

// The name field's well, with the fixed suffix at its right end.
class NameWell : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const Scheme s = schemeOf(this);
        paintTray(p, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -1.5), 8, s, clayBase(s));
    }
};

}  // namespace

ExportRows::ExportRows(Studio& studio, QWidget* parent) : QWidget(parent), m_studio(studio) {
    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(6);

    auto* well = new NameWell(this);
    well->setFixedHeight(fieldHeight);
    auto* wellRow = new QHBoxLayout(well);
    wellRow->setContentsMargins(10, 0, 10, 1);
    wellRow->setSpacing(0);
    m_name = new QLineEdit(well);
    m_name->setFrame(false);
    m_name->setPlaceholderText(QStringLiteral("trevalo"));
    m_name->setFont(Tok::sans(13));
    m_name->setAttribute(Qt::WA_MacShowFocusRect, false);
    m_name->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    m_name->setAccessibleName(QStringLiteral("Output name"));
    auto* suffix = new TextLine(Tok::mono(), TextLine::Role::secondary, well);
    suffix->setText(QStringLiteral("_trevalo"));
    suffix->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    wellRow->addWidget(m_name, 1);
    wellRow->addWidget(suffix);
    col->addWidget(well);

    auto* folderRow = new QHBoxLayout;
    folderRow->setContentsMargins(0, 0, 0, 0);
    folderRow->setSpacing(8);
    auto* icon = new QWidget(this);
    icon->setFixedSize(16, 24);
    icon->installEventFilter(this);
    icon->setObjectName(QStringLiteral("folderGlyph"));
    m_folder = new TextLine(Tok::mono(), TextLine::Role::secondary, this);
    m_folder->setElide(Qt::ElideMiddle);
    m_change = new ClayButton(QStringLiteral("Change…"), ClayButton::Size::small, this);
    folderRow->addWidget(icon);
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(m_change);
    col->addLayout(folderRow);

    m_name->installEventFilter(this);
    connect(m_name, &QLineEdit::textEdited, &m_studio, &Studio::setName);
    connect(m_change, &QAbstractButton::clicked, &m_studio, &Studio::chooseFolder);
    auto refresh = [this] {
        if (m_name->text() != m_studio.name()) m_name->setText(m_studio.name());
        m_folder->setText(tilde(m_studio.outRoot()));
        m_folder->setToolTip(m_studio.outRoot());
    };
    connect(&m_studio, &Studio::nameChanged, this, refresh);
    connect(&m_studio, &Studio::settingsChanged, this, refresh);
    refresh();
}

QString ExportRows::folderText() const { return m_folder->text(); }

bool ExportRows::eventFilter(QObject* watched, QEvent* e) {
    if (watched == m_name) {
        if (e->type() == QEvent::FocusIn) m_studio.setEditingName(true);
        else if (e->type() == QEvent::FocusOut) m_studio.setEditingName(false);
    } else if (e->type() == QEvent::Paint && watched->objectName() == u"folderGlyph") {
        auto* w = static_cast<QWidget*>(watched);
        QPainter p(w);
        paintGlyph(p, Glyph::folder, QRectF(1, 5, 14, 14), textSecondary(schemeOf(w)));
        return true;
    }
    return QWidget::eventFilter(watched, e);
}

// ---- RenderFooter

namespace {

// The failure lines, one per failed input: as tall as they need up to `cap`, then scrolling,
// so that a long list never pushes the Render button out of the window.
class FailureList : public QScrollArea {
public:
    static constexpr int cap = 80;
    FailureList(TextLine* lines, QWidget* parent) : QScrollArea(parent), m_lines(lines) {
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setWidgetResizable(true);
        viewport()->setAutoFillBackground(false);
        QSizePolicy hfw = lines->sizePolicy();
        hfw.setHeightForWidth(true);
        lines->setSizePolicy(hfw);
        lines->setAutoFillBackground(false);
        setWidget(lines);
        ClayScrollBar::attach(this, Qt::Vertical);
    }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int w) const override { return std::min(cap, m_lines->heightForWidth(w)); }
    QSize sizeHint() const override { return {width(), heightForWidth(width())}; }
    QSize minimumSizeHint() const override { return {0, heightForWidth(width())}; }

private:
    TextLine* m_lines;
};

}  // namespace

RenderFooter::RenderFooter(Studio& studio, QWidget* parent) : QWidget(parent), m_studio(studio) {
    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(20, 12, 20, 14);
    col->setSpacing(10);

    m_idle = new TextLine(Tok::mono(), TextLine::Role::secondary, this);
    m_idle->setElide(Qt::ElideMiddle);
    col->addWidget(m_idle);

    m_rendering = new QWidget(this);
    auto* rcol = new QVBoxLayout(m_rendering);
    rcol->setContentsMargins(0, 0, 0, 0);
    rcol->setSpacing(8);
    m_progress = new ProgressTrack(m_rendering);
    m_count = new TextLine(Tok::mono(), TextLine::Role::secondary, m_rendering);
    rcol->addWidget(m_progress);
    rcol->addWidget(m_count);
    col->addWidget(m_rendering);

    m_finished = new QWidget(this);
    auto* fcol = new QVBoxLayout(m_finished);
    fcol->setContentsMargins(0, 0, 0, 0);
    fcol->setSpacing(6);
    auto* frow = new QHBoxLayout;
    frow->setSpacing(8);
    m_summary = new TextLine(Tok::sans(13, QFont::Medium), TextLine::Role::primary, m_finished);
    m_show = new ClayButton(QStringLiteral("Show in Folder"), ClayButton::Size::small, m_finished);
    frow->addWidget(m_summary, 1);
    frow->addWidget(m_show);
    fcol->addLayout(frow);
    m_failed = new TextLine(Tok::sans(11.5), TextLine::Role::secondary);
    m_failed->setElide(Qt::ElideNone);
    m_failedList = new FailureList(m_failed, m_finished);
    fcol->addWidget(m_failedList);
    col->addWidget(m_finished);

    m_button = new RenderButton(this);
    col->addWidget(m_button);

    connect(m_button, &QAbstractButton::clicked, this, [this] {
        if (m_studio.phase().isRendering()) m_studio.cancelRender();
        else m_studio.render();
    });
    connect(m_show, &QAbstractButton::clicked, this, [this] { Studio::showFolder(m_studio.phase().folder); });
    for (auto signal : {&Studio::phaseChanged, &Studio::inputsChanged, &Studio::settingsChanged, &Studio::nameChanged})
        connect(&m_studio, signal, this, &RenderFooter::refresh);
    refresh();
}

QString RenderFooter::statusText(const Studio& studio) {
    const Phase& ph = studio.phase();
    switch (ph.kind) {
    case Phase::Case::idle:
        if (studio.inputs().isEmpty()) return QStringLiteral("Add a screenshot or recording to begin");
        return countFiles(int(studio.inputs().size() * studio.orderedShapes().size())) + QStringLiteral(" → ") +
               tilde(studio.outputFolder());
    case Phase::Case::rendering:
        return QStringLiteral("Rendering ") + QString::number(ph.done) + QStringLiteral(" of ") +
               QString::number(ph.total);
    case Phase::Case::finished:
        if (ph.files == 0) return QStringLiteral("✗ Nothing rendered");
        return QStringLiteral("✓ ") + countFiles(ph.files) + QStringLiteral(" · ") + QString::number(ph.seconds) + u's';
    }
    return {};
}

QString RenderFooter::status() const {
    switch (m_studio.phase().kind) {
    case Phase::Case::idle: return m_idle->text();
    case Phase::Case::rendering: return m_count->text();
    case Phase::Case::finished: return m_summary->text();
    }
    return {};
}

QString RenderFooter::failures() const { return m_failed->text(); }

void RenderFooter::refresh() {
    const Phase& ph = m_studio.phase();
    const QString text = statusText(m_studio);
    m_idle->setVisible(ph.kind == Phase::Case::idle);
    m_rendering->setVisible(ph.kind == Phase::Case::rendering);
    m_finished->setVisible(ph.kind == Phase::Case::finished);
    switch (ph.kind) {
    case Phase::Case::idle: m_idle->setText(text); break;
    case Phase::Case::rendering:
        m_count->setText(text);
        m_progress->setFraction(ph.fraction());
        break;
    case Phase::Case::finished:
        m_summary->setText(text);
        m_show->setVisible(ph.files >= 1);
        m_failed->setText(ph.failed.join(u'\n'));
        m_failedList->setVisible(!ph.failed.isEmpty());
        m_failedList->updateGeometry();
        break;
    }
    if (ph.kind != Phase::Case::rendering) m_progress->setFraction(0);
    const bool rendering = ph.isRendering();
    m_button->setText(rendering ? QStringLiteral("Cancel") : QStringLiteral("Render"));
    m_button->setProminent(!rendering);
    m_button->setEnabled(rendering || m_studio.canRender());
}

void RenderFooter::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(QRectF(0, 0, width(), 1), dividerColour(schemeOf(this)));
}

// ---- Sidebar

Sidebar::Sidebar(Studio& studio, QWidget* parent) : QWidget(parent), m_studio(studio) {
    setFixedWidth(fixedWidth);
    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(0);

    auto* scroll = m_scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    // Over the sections' right margin, so that their text keeps its width.
    m_bar = ClayScrollBar::attach(scroll, Qt::Vertical);
    auto* body = new QWidget;
    body->setAutoFillBackground(false);
    auto* sections = new QVBoxLayout(body);
    sections->setContentsMargins(0, 4, 0, 2);
    sections->setSpacing(0);
    scroll->setWidget(body);
    col->addWidget(scroll, 1);

    auto section = [&](const QString& title) {
        auto* lever = new Lever(title, body);
        sections->addWidget(lever);
        m_sections << lever;
        return lever;
    };

    Lever* look = section(QStringLiteral("Studio"));
    m_theme = new Segmented(look);
    m_theme->setStretch(true);
    m_theme->setOptions({
        {QStringLiteral("Dark"),
         [](QPainter& p, const QRectF& r, const QColor& c) { paintGlyph(p, Glyph::moon, r, c); },
         {}},
        {QStringLiteral("Light"),
         [](QPainter& p, const QRectF& r, const QColor& c) { paintGlyph(p, Glyph::sun, r, c); },
         {}},
    });
    m_theme->setSelected(m_studio.theme() == Theme::dark ? 0 : 1);
    connect(m_theme, &Segmented::activated, this,
            [this](int i) { m_studio.setTheme(i == 0 ? Theme::dark : Theme::light); });
    m_backdrop = new BackdropKey(m_studio, look);
    auto* lookRow = new QHBoxLayout;
    lookRow->setSpacing(8);
    lookRow->addWidget(m_theme, 1);
    lookRow->addWidget(m_backdrop);
    look->content()->addLayout(lookRow);

    Lever* caption = section(QStringLiteral("Caption"));
    m_caption = new CaptionRows(m_studio, caption);
    caption->content()->addWidget(m_caption);
    caption->setAccessory(m_caption->placePicker());

    Lever* shapes = section(QStringLiteral("Shapes"));
    shapes->content()->setSpacing(0);
    for (Shape s : allShapes) {
        auto* row = new ShapeRow(m_studio, s, shapes);
        shapes->content()->addWidget(row);
        m_shapes << row;
    }

    // The switch and its title sit on the section's title line, which leaves the sidebar room for
    // the caption at the window's smallest.
    Lever* motion = section(QStringLiteral("Motion"));
    auto* spinRow = new QWidget(motion);
    auto* spinLine = new QHBoxLayout(spinRow);
    spinLine->setContentsMargins(0, 0, 0, 0);
    spinLine->setSpacing(8);
    auto* spinTitle = new TextLine(Tok::sans(13), TextLine::Role::primary, spinRow);
    spinTitle->setText(QStringLiteral("Spin"));
    m_spin = new ClaySwitch(spinRow);
    m_spin->setAccessibleName(QStringLiteral("Spin"));
    m_spin->setChecked(m_studio.spin());
    spinLine->addWidget(spinTitle);
    spinLine->addWidget(m_spin);
    motion->setAccessory(spinRow);
    auto* spinCaption = new TextLine(Tok::sans(11.5), TextLine::Role::secondary, motion);
    spinCaption->setElide(Qt::ElideNone);
    spinCaption->setText(QStringLiteral("Each shape renders as a clip where the device turns once, then plays on"));
    motion->content()->addWidget(spinCaption);
    connect(m_spin, &QAbstractButton::toggled, &m_studio, &Studio::setSpin);

    Lever* audio = section(QStringLiteral("Audio"));
    m_audio = new AudioRow(m_studio, audio);
    audio->content()->addWidget(m_audio);

    Lever* out = section(QStringLiteral("Export"));
    m_export = new ExportRows(m_studio, out);
    out->content()->addWidget(m_export);
    sections->addStretch(1);

    m_footer = new RenderFooter(m_studio, this);
    col->addWidget(m_footer);

    connect(&m_studio, &Studio::settingsChanged, this, [this] {
        m_theme->setSelected(m_studio.theme() == Theme::dark ? 0 : 1);
        m_spin->setChecked(m_studio.spin());
    });
}

void Sidebar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const Scheme s = schemeOf(this);
    p.fillRect(rect(), grey(clayBase(s)));
    p.setOpacity(0.5);
    paintGrain(p, [this] {
        QPainterPath path;
        path.addRect(rect());
        return path;
    }());
}
