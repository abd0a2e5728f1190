#pragma once
// The window's own "clay" look: recessed trays, raised keys, ink fills, film grain and drawn
// glyphs, in a light and a dark appearance. One point of the design is one device-independent
// pixel here.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QObject>
#include <QPainterPath>
#include <QRectF>

#include <functional>

class QPainter;
class QWidget;

enum class Scheme { light, dark };

// The window's current appearance. Views read it while painting and repaint on `changed`.
class Appearance : public QObject {
    Q_OBJECT
public:
    static Appearance& shared();
    Scheme scheme() const { return m_scheme; }
    // Also sets the application palette, so that text fields, menus and tooltips follow.
    void setScheme(Scheme s);
    // The desktop's preference as far as the palette tells it.
    static Scheme fromPalette();
signals:
    void changed();

private:
    Scheme m_scheme = Scheme::light;
};

inline Scheme currentScheme() { return Appearance::shared().scheme(); }

// Design tokens.
namespace Tok {
// The fixed-pitch system font, 10.5 points, medium weight: captions and status lines.
QFont mono();
// The proportional system font at `points`, rounded to whole pixels.
QFont sans(double points, QFont::Weight weight = QFont::Normal);
}  // namespace Tok

QColor grey(double level, double alpha = 1.0);
// The clay base level the surfaces are scaled by: the sidebar's own grey.
double clayBase(Scheme s);
QColor textPrimary(Scheme s);    // 0.955 dark, 0.045 light
QColor textSecondary(Scheme s);  // 0.56 dark, 0.45 light
QColor dividerColour(Scheme s);  // 0.2 dark, 0.86 light
QPalette paletteFor(Scheme s);

enum class Press { none, hover, down };

void paintTray(QPainter& p, const QRectF& r, qreal radius, Scheme s, double base);
void paintKey(QPainter& p, const QRectF& r, qreal radius, Scheme s, double base, Press state = Press::none,
              bool flat = false);
void paintInk(QPainter& p, const QRectF& r, qreal radius, Scheme s, Press state = Press::none);
// Film grain over `area`, in overlay blend at opacity 0.12, the tile drawn at scale 2.
void paintGrain(QPainter& p, const QPainterPath& area);

// A 128 x 128 tile of grey levels 88..168. Each level is 88 + an unbiased draw from 0..80 out of
// random bytes: a byte b is rejected when the low byte of b * 81 is below 13 (256 mod 81), else
// the draw is (b * 81) >> 8.
QImage makeGrainTile(const std::function<quint8()>& randomByte);
const QImage& grainTile();  // made once per run

// Glyphs drawn by the project in place of a symbol font. `r` is the glyph's box.
enum class Glyph { moon, sun, waveform, folder, xmark, xmarkCircle, checkmark, plus, play };
void paintGlyph(QPainter& p, Glyph g, const QRectF& r, const QColor& c);
