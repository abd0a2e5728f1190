#pragma once
// The canvas: the preview on the theme's backdrop, the shape picker, notices, and the strip of
// inputs or the empty bar. Every picture it shows comes from Studio.

#include "controls.h"
#include "viewfinder.h"
#include "Studio/values.h"

#include <QImage>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>

class QHBoxLayout;
class ClayScrollBar;
class Studio;

// The bottom bar's height: the strip of inputs and the empty bar take turns in one place,
// and the preview above must not move when one gives way to the other.
inline constexpr int bottomBarHeight = 90;

// One input's cell: thumbnail, recording badge, selection ring, remove button on hover.
class Thumb : public ClayAbstractButton {
    Q_OBJECT
public:
    static constexpr int side = 60;
    static constexpr qreal radius = 7;
    Thumb(Studio& studio, const Input& input, QWidget* parent = nullptr);
    const Input& input() const { return m_input; }
    QAbstractButton* removeButton() const { return m_remove; }
    // The file name; for a recording known to run over 60.5 s, what the render keeps.
    static QString help(const QString& fileName, std::optional<double> seconds);
    void refresh();

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    Studio& m_studio;
    Input m_input;
    QAbstractButton* m_remove;
};

class Filmstrip : public QWidget {
    Q_OBJECT
public:
    explicit Filmstrip(Studio& studio, QWidget* parent = nullptr);
    QList<Thumb*> thumbs() const { return m_thumbs; }
    QAbstractButton* addButton() const { return m_add; }
    ClayScrollBar* scrollBar() const { return m_bar; }

private:
    void rebuild();
    Studio& m_studio;
    QWidget* m_row;
    QHBoxLayout* m_cells;
    QList<Thumb*> m_thumbs;
    QAbstractButton* m_add;
    ClayScrollBar* m_bar;
};

class EmptyBar : public QWidget {
    Q_OBJECT
public:
    explicit EmptyBar(Studio& studio, QWidget* parent = nullptr);
    QAbstractButton* chooseButton() const { return m_choose; }
    QString caption() const;

private:
    QAbstractButton* m_choose;
    TextLine* m_caption;
};

// The transient message bubble; fades in and out.
class Notice : public QWidget {
    Q_OBJECT
public:
    static constexpr qreal radius = 7;
    explicit Notice(QWidget* parent = nullptr);
    void setText(const QString& text);  // empty fades it out
    QString text() const { return m_text; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString m_text, m_shown;
    QVariantAnimation m_fade;
    qreal m_opacity = 0;
};

// The canvas's base, as the engine lays the backdrop under its glow: top and bottom colour.
struct Wash {
    QColor top, bottom;
    bool operator==(const Wash&) const = default;
};

class CanvasView : public QWidget {
    Q_OBJECT
public:
    explicit CanvasView(Studio& studio, QWidget* parent = nullptr);
    Segmented* shapePicker() const { return m_picker; }
    Viewfinder* viewfinder() const { return m_viewfinder; }
    Filmstrip* filmstrip() const { return m_strip; }
    EmptyBar* emptyBar() const { return m_empty; }
    Notice* notice() const { return m_notice; }
    void setDropping(bool on) { m_viewfinder->setDropping(on); }
    Wash backdrop() const { return m_wash; }  // what is painted now
    static Wash backdropFor(Theme t, const Backdrop& b = {});
    // The canvas's texts and controls in the appearance that reads on the backdrop.
    static Scheme schemeFor(Theme t, const Backdrop& b);

signals:
    // A press on the bare canvas: the window may be moved from here.
    void backgroundPressed();

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;

private:
    void layoutChildren();
    void refreshPicker();
    void refreshBottom();
    Studio& m_studio;
    Segmented* m_picker;
    Viewfinder* m_viewfinder;
    Filmstrip* m_strip;
    EmptyBar* m_empty;
    Notice* m_notice;
    void recolour();
    Wash m_wash, m_from, m_to;
    QVariantAnimation m_recolour;
    QList<Shape> m_pickerShapes;
};
