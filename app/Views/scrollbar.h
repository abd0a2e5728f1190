#pragma once
// The window's own scroll bar: a narrow tray with a raised key for a handle and no arrows, in
// the appearance of its place in the window.

#include <QAbstractSlider>

#include <optional>

class QAbstractScrollArea;

class ClayScrollBar : public QAbstractSlider {
    Q_OBJECT
public:
    static constexpr int thickness = 10;
    static constexpr qreal minHandle = 24;
    explicit ClayScrollBar(Qt::Orientation o, QWidget* parent = nullptr);

    // Lays a clay bar over the edge of `area`'s viewport in place of the area's own bar, which
    // keeps the range and the value (and so the wheel and the keys). Lying over the content,
    // the bar takes no width from it; it shows only while there is something to scroll.
    static ClayScrollBar* attach(QAbstractScrollArea* area, Qt::Orientation o);

    QRectF trackRect() const;
    QRectF handleRect() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;

private:
    qreal along(const QPointF& p) const;
    qreal handleLength() const;
    std::optional<qreal> m_grab;  // where the handle was taken, along the track from its start
    bool m_hover = false;
};
