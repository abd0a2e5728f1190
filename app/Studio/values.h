#pragma once
// Value types shared by the Studio model, its render plans and the engine bridge.

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>
#include <optional>

enum class Theme { dark, light };

// Declaration order is the display and render order everywhere.
enum class Shape { vertical, horizontal, horizontal_closeup, square, square_closeup };

enum class Kind { image, video, audio, other };

inline constexpr std::array<Shape, 5> allShapes{Shape::vertical, Shape::horizontal, Shape::horizontal_closeup,
                                                Shape::square, Shape::square_closeup};

QString themeName(Theme t);
// "light" gives light; anything else, nothing included, gives dark.
Theme themeFromName(const QString& text);

QString shapeName(Shape s);
std::optional<Shape> shapeFromName(const QString& text);
// "WxH" in pixels: scale 1 for videos and previews, 2 for flat stills.
QString shapeSize(Shape s, int scale);
bool shapeCloseup(Shape s);

// By the lower-cased extension of the file name; no extension is `other`.
Kind kindOf(const QString& path);
// The file name without its last extension; a leading dot does not start one.
QString stripExtension(const QString& fileName);
const QStringList& imageExtensions();
const QStringList& videoExtensions();
const QStringList& soundExtensions();

enum class CaptionPlace { top, bottom };

QString captionPlaceName(CaptionPlace p);
// "bottom" gives bottom; anything else, nothing included, gives top.
CaptionPlace captionPlaceFromName(const QString& text);

// An input's title and subtitle, as typed; a line feed breaks a line. The engine sets a subtitle
// under its title, so a subtitle without a title says nothing.
struct Caption {
    QString title, subtitle;
    bool hasTitle() const { return !title.trimmed().isEmpty(); }
    // What reaches the engine: nothing at all without a title.
    Caption shown() const { return hasTitle() ? *this : Caption{}; }
    bool operator==(const Caption&) const = default;
};

// The base the device stands on: the theme's own, one colour, or a vertical gradient. Colours
// are 0xRRGGBB.
struct Backdrop {
    QList<quint32> stops;  // none: the theme's own; one: solid; two: top, then bottom

    static Backdrop solid(quint32 rgb) { return {{rgb & 0xffffffu}}; }
    static Backdrop gradient(quint32 top, quint32 bottom) { return {{top & 0xffffffu, bottom & 0xffffffu}}; }
    bool isTheme() const { return stops.isEmpty(); }
    // "#rrggbb" or "#rrggbb,#rrggbb", as the engine and the settings take it; empty for the
    // theme's own.
    QString text() const;
    // Either form, hex digits in either case; an empty text is the theme's own. Nothing else.
    static std::optional<Backdrop> fromText(const QString& text);
    bool operator==(const Backdrop&) const = default;
};

// The engine options that title and dress an output. None for an untitled output on the theme's
// own backdrop, which then renders exactly as without them.
QStringList dressArgs(const Caption& caption, CaptionPlace place, const Backdrop& backdrop);

// An input's identity is its path.
struct Input {
    QString path;
    Kind kind = Kind::other;
    bool operator==(const Input&) const = default;
};

// One engine run of a render. Engine output paths in `args` are "{TMP}/" + the final file name;
// staged files are matched to `outputs` by file name.
struct Job {
    QString source;
    QStringList args;
    QStringList outputs;
    QString audio;      // sound to lay under each ".mp4" output; empty for none
    QStringList stale;  // outputs of the other spin variant, removed after delivery
    bool operator==(const Job&) const = default;
};

struct Phase {
    enum class Case { rendering, finished, idle };
    Case kind = Case::idle;
    int done = 0, total = 0;  // rendering: output files finished (delivered or failed)
    double partial = 0;       // rendering: output files under way, counted by their frames written
    int files = 0;            // finished: files delivered
    QStringList failed;       // finished: one line per failed input
    int seconds = 0;          // finished: wall time, whole seconds
    QString folder;           // finished: the output folder

    static Phase idle() { return {}; }
    static Phase rendering(int done, int total, double partial = 0) {
        Phase p;
        p.kind = Case::rendering;
        p.done = done;
        p.total = total;
        p.partial = partial;
        return p;
    }
    static Phase finished(int files, QStringList failed, int seconds, QString folder) {
        Phase p;
        p.kind = Case::finished;
        p.files = files;
        p.failed = std::move(failed);
        p.seconds = seconds;
        p.folder = std::move(folder);
        return p;
    }
    bool isRendering() const { return kind == Case::rendering; }
    // rendering: how much of all planned output files is written, 0..1.
    double fraction() const { return total > 0 ? std::clamp((done + partial) / total, 0.0, 1.0) : 0.0; }
    bool operator==(const Phase&) const = default;
};

struct PreviewKey {
    PreviewKey() = default;
    PreviewKey(QString path, Theme theme, Shape shape, Caption caption = {}, CaptionPlace place = CaptionPlace::top,
               Backdrop backdrop = {})
        : path(std::move(path)), theme(theme), shape(shape), caption(std::move(caption)), place(place),
          backdrop(std::move(backdrop)) {}

    QString path;  // the input, or the blank placeholder
    Theme theme = Theme::dark;
    Shape shape = Shape::vertical;
    Caption caption;                         // as shown: empty without a title
    CaptionPlace place = CaptionPlace::top;  // top whenever there is no caption
    Backdrop backdrop;
    bool operator==(const PreviewKey&) const = default;
};

inline size_t qHash(Shape s, size_t seed = 0) { return ::qHash(int(s), seed); }

inline size_t qHash(const PreviewKey& k, size_t seed = 0) {
    return qHashMulti(seed, k.path, int(k.theme), int(k.shape), k.caption.title, k.caption.subtitle, int(k.place),
                      k.backdrop.text());
}
