#pragma once
// The preview stage inside crop marks, with the slate under it.

#include "Studio/values.h"

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>

#include <optional>

class Studio;

class Viewfinder : public QWidget {
    Q_OBJECT
public:
    static constexpr qreal armLength = 14;
    static constexpr int slateHeight = 30;
    static constexpr int fadeMs = 260;
    // How long a new preview key may go without its picture before the busy cue shows.
    static constexpr int busyAfterMs = 150;

    explicit Viewfinder(Studio& studio, QWidget* parent = nullptr);
    void setDropping(bool on);
    bool dropping() const { return m_dropping; }
    // Room kept free under the slate, for what the canvas floats there.
    void setBottomRoom(int px);

    // The output's frame: the shape on screen, travelling to the new one during a cross-fade.
    QRectF stageRect() const;
    // Where a picture of `shape` lies: its own aspect, fitted to the stage area.
    QRectF pictureRect(Shape shape) const;
    // The caption line under the frame.
    QRectF slateRect() const;
    // The slate's two ends: input name (and duration), and the output's shape title.
    QString slateText() const;
    QString shapeText() const;
    static QString slateFor(const Studio& studio);
    // The slate's text for a selected path (empty: nothing selected) and a recording's length.
    static QString slate(const QString& path, std::optional<double> seconds);
    bool showsRec() const;
    // Rec badge opacity at `seconds`: 0.6 + 0.4 cos(2 pi t / 1.6).
    static double recOpacity(double seconds);
    bool busyShown() const { return m_busy; }
    // The cross-fade from the previous picture to a new one (0 to 1); tests hold it part-way.
    QVariantAnimation& crossFade() { return m_fade; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void previewChanged();
    void refreshBusy();
    void setBusy(bool on);
    void paintPictures(QPainter& p);
    void paintBusy(QPainter& p, const QRectF& stage);
    Shape stageShape() const;
    Studio& m_studio;
    bool m_dropping = false;
    int m_bottomRoom = 14;
    QImage m_current, m_previous;
    std::optional<PreviewKey> m_shownKey, m_previousKey;
    QVariantAnimation m_fade;
    qreal m_mix = 1;
    QTimer m_pulse;
    QElapsedTimer m_sinceKey;
    QTimer m_busyDelay;
    QVariantAnimation m_busySpin;
    qreal m_busyAngle = 0;
    bool m_busy = false;
};
