#pragma once
// Value types shared by the Studio model, its render plans and the engine bridge.

#include <QHash>
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
    QString path;  // the input, or the blank placeholder
    Theme theme = Theme::dark;
    Shape shape = Shape::vertical;
    bool operator==(const PreviewKey&) const = default;
};

inline size_t qHash(Shape s, size_t seed = 0) { return ::qHash(int(s), seed); }

inline size_t qHash(const PreviewKey& k, size_t seed = 0) {
    return qHashMulti(seed, k.path, int(k.theme), int(k.shape));
}
