#pragma once
// The only code that starts `pellmar`. Every operation is asynchronous: it returns at once and
// calls `done` exactly once, later, on the GUI thread, unless `context` was destroyed first.
// Nothing here blocks the calling thread.

#include "cancel.h"
#include "../Studio/values.h"

#include <QImage>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace Engine {

// The folder the bundle is looked up from; the application's own folder unless set.
// Tests point it at a build or install tree.
void setAppDir(const QString& dir);
QString appDir();

// Build tree: pellmar and look.conf beside the program. Installed: <prefix>/bin/pellmar beside
// <prefix>/bin/trevalo, and <prefix>/share/trevalo/look.conf. Empty when absent.
QString enginePath();
QString look();

inline constexpr const char* missingMessage = "render engine missing from the app bundle";

// The fraction 0..1 of an engine run's frames written so far, from its "--progress" lines.
using ProgressFn = std::function<void(double)>;

// Runs pellmar with `args` (subcommand first). Exit 0 is success; a signal, a cancelled token
// or terminateAll() is cancellation; otherwise the first non-empty line of standard error, or
// "render failed". Cancelling the token terminates the running engine with SIGTERM. With
// `progress`, the engine's standard output is read for its progress lines (the arguments must
// ask for them) and each new fraction is passed on, on the GUI thread, while `context` lives.
void run(const QStringList& args, Token token, QObject* context, std::function<void(Outcome)> done,
         ProgressFn progress = {});

// The fraction that one line of the engine's standard output reports, if it is a progress line.
std::optional<double> progressOf(QByteArrayView line);

// SIGTERM to every engine this process started that is still running.
void terminateAll();
// How many engines are registered as running (for the shell and tests).
int liveCount();

// Grey level 0..1 of each theme's backdrop, read once from look.conf; entries only where found.
QMap<Theme, double> backdrops();
QMap<Theme, double> backdropsFrom(const QString& lookText);
double backdrop(Theme t);  // with the 50/255 and 209/255 fall-backs

// The input rendered as the key says, through a scratch PNG that is always removed.
void preview(const PreviewKey& key, Token token, QObject* context, std::function<void(Outcome, QImage)> done);

// Carries out one job: renders into a private staging folder, lays the sound under each ".mp4",
// then delivers over the outputs and removes the stale files. An error or cancellation leaves
// the output folder untouched. `done` gets no message on success. `progress` follows the frames
// of a frame or spin run.
void perform(const Job& job, Token token, QObject* context, std::function<void(std::optional<QString>)> done,
             ProgressFn progress = {});

// Probes that never start the engine: a thumbnail of at most 240 pixels, oriented, and the
// length of a recording in seconds. Failures give nothing.
void thumbnail(const QString& path, Kind kind, QObject* context, std::function<void(std::optional<QImage>)> done);
void duration(const QString& path, QObject* context, std::function<void(std::optional<double>)> done);

// The synchronous work behind the probes, for worker threads and tests.
std::optional<QImage> thumbnailNow(const QString& path, Kind kind);
std::optional<double> durationNow(const QString& path);

// The first non-empty line of an engine's standard error, or "render failed".
QString firstLine(const QByteArray& stderrBytes);

}  // namespace Engine
