#pragma once
// The clay controls. Each paints itself with the shared surfaces of clay.h in the appearance
// of its place in the window (schemeOf).

#include "clay.h"
#include "Studio/values.h"

#include <QAbstractButton>
#include <QVariantAnimation>
#include <QWidget>

#include <functional>

// The appearance a widget paints in: the nearest "scheme" property up its parents (the canvas
// follows the output theme), else the window's appearance.
Scheme schemeOf(const QWidget* w);
void setSchemeOverride(QWidget* w, Scheme s);

// A small outline of the shape's proportions with the device inside, for a 20-point box.
void paintShapeGlyph(QPainter& p, Shape s, const QRectF& box, const QColor& c);

// One line of text (or wrapped lines) in a fixed font and colour role.
class TextLine : public QWidget {
    Q_OBJECT
public:
    enum class Role { primary, secondary };
    explicit TextLine(const QFont& font, Role role = Role::primary, QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const { return m_text; }
    void setElide(Qt::TextElideMode mode);  // ElideNone wraps
    void setAlignment(Qt::Alignment a);
    // The text as it fits the current width.
    QString shownText() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return m_elide == Qt::ElideNone; }
    int heightForWidth(int w) const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString m_text;
    Role m_role;
    Qt::TextElideMode m_elide = Qt::ElideRight;
    Qt::Alignment m_align = Qt::AlignLeft | Qt::AlignVCenter;
};

// Press state from hover and the button's own down flag.
class ClayAbstractButton : public QAbstractButton {
    Q_OBJECT
public:
    using QAbstractButton::QAbstractButton;

protected:
    Press press() const;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    bool m_hover = false;
};

// A picker of a few values on a tray; the raised key slides to the chosen segment.
class Segmented : public QWidget {
    Q_OBJECT
public:
    struct Option {
        QString title;  // may be empty: icon only
        std::function<void(QPainter&, const QRectF&, const QColor&)> icon;
        QString tip;
    };
    static constexpr qreal trayRadius = 11;
    static constexpr int fixedHeight = 28;
    static constexpr int animationMs = 220;

    explicit Segmented(QWidget* parent = nullptr);
    void setOptions(const QList<Option>& options);
    int count() const { return int(m_options.size()); }
    void setSelected(int index);  // slides; -1 shows no key
    int selected() const { return m_selected; }
    void setStretch(bool on);
    QRectF segmentRect(int index) const;
    QRectF keyRect() const;  // where the key is drawn now
    bool sliding() const { return m_slide.state() == QAbstractAnimation::Running; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void activated(int index);

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent*) override;
    bool event(QEvent* e) override;

private:
    int indexAt(const QPointF& pos) const;
    qreal naturalWidth(int index) const;

    QList<Option> m_options;
    int m_selected = -1;
    int m_hover = -1;
    int m_pressed = -1;
    bool m_stretch = false;
    QVariantAnimation m_slide;
    QRectF m_key;
};

// The check box of a shape row; the row takes the clicks.
class ClayCheck : public QWidget {
    Q_OBJECT
public:
    static constexpr int side = 16;
    static constexpr qreal radius = 4.5;
    explicit ClayCheck(QWidget* parent = nullptr);
    void setOn(bool on);
    bool isOn() const { return m_on; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    bool m_on = false;
};

class ClaySwitch : public ClayAbstractButton {
    Q_OBJECT
public:
    static constexpr QSize track{30, 18};
    static constexpr QSize knob{14, 14};
    static constexpr qreal knobRadius = 7;
    explicit ClaySwitch(QWidget* parent = nullptr);
    QRectF knobRect() const;  // where the knob is drawn now
    QSize sizeHint() const override { return track; }

protected:
    void paintEvent(QPaintEvent*) override;
    void checkStateSet() override;
    void nextCheckState() override;

private:
    QVariantAnimation m_slide;
    qreal m_pos = 0;  // 0 left, 1 right
};

// A key-shaped secondary button: 32 points tall with a 13-point font, 24 and 12 when small.
class ClayButton : public ClayAbstractButton {
    Q_OBJECT
public:
    enum class Size { regular, small };
    explicit ClayButton(const QString& text, Size size = Size::regular, QWidget* parent = nullptr);
    void setProminent(bool on);
    void setGlyph(std::optional<Glyph> g);
    bool isSmall() const { return m_small; }
    qreal radius() const { return m_small ? 7 : 9; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    bool m_small;
    bool m_prominent = false;
    std::optional<Glyph> m_glyph;
};

// The footer's Render/Cancel button: 38 points tall, 13-point font, 0.5-point border; ink
// when prominent.
class RenderButton : public ClayAbstractButton {
    Q_OBJECT
public:
    static constexpr int fixedHeight = 38;
    static constexpr qreal radius = 10;
    explicit RenderButton(QWidget* parent = nullptr);
    void setProminent(bool on);
    bool prominent() const { return m_prominent; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    bool m_prominent = true;
};

// A tray with an ink fill up to `fraction`, eased towards each new value.
class ProgressTrack : public QWidget {
    Q_OBJECT
public:
    static constexpr int fixedHeight = 6;
    explicit ProgressTrack(QWidget* parent = nullptr);
    void setFraction(double f);
    double target() const { return m_target; }
    QSize sizeHint() const override { return {120, fixedHeight}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QVariantAnimation m_ease;
    double m_shown = 0, m_target = 0;
};
