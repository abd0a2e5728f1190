#pragma once
// The backdrop setting beside the theme picker: a well showing the chosen backdrop, which opens
// a small palette of swatches and the way to a colour of the user's own.

#include "controls.h"

class Studio;

struct BackdropChoice {
    QString name;
    Backdrop backdrop;
};
// The palette, the theme's own first.
const QList<BackdropChoice>& backdropChoices();

QColor rgbColour(quint32 rgb);
// `b` as the output's base over `r`: the theme's grey, one colour, or top to bottom.
void paintBackdrop(QPainter& p, const QRectF& r, qreal radius, const Backdrop& b, Theme theme);

// One swatch of the palette; a ring marks the chosen one.
class Swatch : public ClayAbstractButton {
    Q_OBJECT
public:
    static constexpr int side = 26;
    // `custom`: the colour wheel that stands for a colour of the user's own, or that colour.
    Swatch(Studio& studio, const BackdropChoice& choice, bool custom, QWidget* parent = nullptr);
    const Backdrop& backdrop() const { return m_backdrop; }
    void setBackdrop(const Backdrop& b);
    QSize sizeHint() const override { return {side, side}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    Studio& m_studio;
    Backdrop m_backdrop;
    bool m_custom;
};

class BackdropPalette : public QWidget {
    Q_OBJECT
public:
    static constexpr int columns = 5;
    explicit BackdropPalette(Studio& studio, QWidget* parent = nullptr);
    QList<Swatch*> swatches() const { return m_swatches; }  // the palette's, then the custom one
    Swatch* custom() const { return m_swatches.last(); }

protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override;

private:
    void refresh();
    Studio& m_studio;
    QList<Swatch*> m_swatches;
};

class BackdropKey : public ClayAbstractButton {
    Q_OBJECT
public:
    static constexpr int side = 28;
    explicit BackdropKey(Studio& studio, QWidget* parent = nullptr);
    BackdropPalette* palette() const { return m_palette; }
    QSize sizeHint() const override { return {side, side}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void open();
    Studio& m_studio;
    BackdropPalette* m_palette;
};
