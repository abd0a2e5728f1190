#include "caption.h"
#include "Studio/studio.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>

#include <cmath>

// ---- CaptionEdit

CaptionEdit::CaptionEdit(const QFont& font, int padding, const QString& placeholder, QWidget* parent)
    : QPlainTextEdit(parent), m_padding(padding) {
    setFont(font);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setTabChangesFocus(true);
    setPlaceholderText(placeholder);
    setAccessibleName(placeholder);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; }"));
    viewport()->setAutoFillBackground(false);
    document()->setDocumentMargin(0);
    setViewportMargins(0, m_padding, 0, m_padding);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(document(), &QTextDocument::contentsChanged, this, &CaptionEdit::fit);
    fit();
}

QString CaptionEdit::text() const {
    QString t = document()->toRawText();
    t.replace(QChar::ParagraphSeparator, u'\n').replace(QChar::LineSeparator, u'\n');
    return t;
}

void CaptionEdit::setText(const QString& text) {
    if (text != this->text()) setPlainText(text);
}

int CaptionEdit::lines() const {
    int n = 0;
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) n += std::max(1, b.lineCount());
    return std::max(1, n);
}

QSize CaptionEdit::sizeHint() const {
    const qreal line = QFontMetricsF(font()).lineSpacing();
    return {160, int(std::ceil(std::min(lines(), maxLines) * line)) + 2 * m_padding};
}

void CaptionEdit::fit() {
    const int h = sizeHint().height();
    if (h != height() || minimumHeight() != h) setFixedHeight(h);
}

void CaptionEdit::resizeEvent(QResizeEvent* e) {
    QPlainTextEdit::resizeEvent(e);
    fit();  // a new width wraps the text anew
}

// ---- TokenChoice

namespace {
constexpr qreal tokenPad = 5, tokenGap = 2;
}

TokenChoice::TokenChoice(const QStringList& words, QWidget* parent) : QWidget(parent), m_words(words) {
    setFont(Tok::mono());
    setFixedHeight(fixedHeight);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setMouseTracking(true);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
}

void TokenChoice::setSelected(int index) {
    if (index == m_selected) return;
    m_selected = index;
    update();
}

QRectF TokenChoice::wordRect(int index) const {
    const QFontMetricsF fm(font());
    qreal x = 0;
    for (int i = 0; i < m_words.size(); ++i) {
        const qreal w = fm.horizontalAdvance(m_words[i]) + 2 * tokenPad;
        if (i == index) return {x, 0, w, qreal(fixedHeight)};
        x += w + tokenGap;
    }
    return {};
}

QSize TokenChoice::sizeHint() const { return {int(std::ceil(wordRect(int(m_words.size()) - 1).right())), fixedHeight}; }

int TokenChoice::indexAt(const QPointF& pos) const {
    for (int i = 0; i < m_words.size(); ++i)
        if (wordRect(i).contains(pos)) return i;
    return -1;
}

void TokenChoice::mouseMoveEvent(QMouseEvent* e) {
    const int i = indexAt(e->position());
    if (i == m_hover) return;
    m_hover = i;
    update();
}

void TokenChoice::leaveEvent(QEvent*) {
    m_hover = -1;
    update();
}

void TokenChoice::mouseReleaseEvent(QMouseEvent* e) {
    const int i = indexAt(e->position());
    if (e->button() == Qt::LeftButton && i >= 0) emit activated(i);
}

void TokenChoice::keyPressEvent(QKeyEvent* e) {
    const int step = e->key() == Qt::Key_Left ? -1 : e->key() == Qt::Key_Right ? 1 : 0;
    const int next = m_selected + step;
    if (step == 0 || next < 0 || next >= m_words.size()) return QWidget::keyPressEvent(e);
    emit activated(next);
}

void TokenChoice::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const Scheme s = schemeOf(this);
    for (int i = 0; i < m_words.size(); ++i) {
        const QRectF r = wordRect(i).adjusted(0.5, 0.5, -0.5, -1);
        const bool on = i == m_selected;
        if (on) paintKey(p, r, 5, s, clayBase(s), Press::none, true);
        else if (i == m_hover) {
            p.setPen(Qt::NoPen);
            p.setBrush(s == Scheme::dark ? grey(1.0, 0.06) : grey(0.0, 0.05));
            p.drawRoundedRect(r, 5, 5);
        }
        p.setPen(on || i == m_hover ? textPrimary(s) : textSecondary(s));
        p.drawText(r, Qt::AlignCenter, m_words[i]);
    }
    if (hasFocus()) {
        p.setPen(QPen(textSecondary(s), 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
    }
}

// ---- CaptionRows

CaptionRows::CaptionRows(Studio& studio, QWidget* parent) : QWidget(parent), m_studio(studio) {
    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(10, 0, 10, 1);
    col->setSpacing(1);  // the hairline between the two fields
    m_title = new CaptionEdit(Tok::sans(13, QFont::Medium), 3, QStringLiteral("Title"), this);
    m_subtitle = new CaptionEdit(Tok::sans(12), 3, QStringLiteral("Subtitle"), this);
    col->addWidget(m_title);
    col->addWidget(m_subtitle);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    m_place = new TokenChoice({QStringLiteral("top"), QStringLiteral("bottom")}, this);
    m_place->setAccessibleName(QStringLiteral("Caption place"));
    m_place->setToolTip(QStringLiteral("Where the caption sits: above or below the device"));
    connect(m_place, &TokenChoice::activated, this,
            [this](int i) { m_studio.setCaptionPlace(i == 1 ? CaptionPlace::bottom : CaptionPlace::top); });

    for (CaptionEdit* f : {m_title, m_subtitle}) {
        f->installEventFilter(this);
        connect(f, &QPlainTextEdit::textChanged, this, &CaptionRows::edited);
    }
    for (auto signal : {&Studio::selectionChanged, &Studio::captionsChanged, &Studio::settingsChanged})
        connect(&m_studio, signal, this, &CaptionRows::refresh);
    refresh();
}

void CaptionRows::refresh() {
    const QString path = m_studio.selected();
    const Caption c = m_studio.caption(path);
    m_refreshing = true;
    m_title->setText(c.title);
    m_subtitle->setText(c.subtitle);
    m_refreshing = false;
    // A caption belongs to an input; a subtitle goes with a title.
    m_title->setEnabled(!path.isEmpty());
    m_subtitle->setEnabled(!path.isEmpty() && c.hasTitle());
    m_place->setSelected(m_studio.captionPlace() == CaptionPlace::bottom ? 1 : 0);
}

void CaptionRows::edited() {
    if (m_refreshing) return;
    m_studio.setCaption(m_studio.selected(), {m_title->text(), m_subtitle->text()});
    refresh();
}

bool CaptionRows::eventFilter(QObject* watched, QEvent* e) {
    // While a field has the keyboard, Delete edits the text instead of removing the input.
    if (e->type() == QEvent::FocusIn) m_studio.setEditingName(true);
    else if (e->type() == QEvent::FocusOut) m_studio.setEditingName(false);
    return QWidget::eventFilter(watched, e);
}

void CaptionRows::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const Scheme s = schemeOf(this);
    paintTray(p, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -1.5), 8, s, clayBase(s));
    const qreal y = m_title->geometry().bottom() + 1;
    p.fillRect(QRectF(10, y, width() - 20, 0.5), s == Scheme::dark ? grey(1.0, 0.08) : grey(0.0, 0.08));
}
