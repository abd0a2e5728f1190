#include "engine.h"
#include "async.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUuid>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace Engine {
namespace {

fs::path fsPath(const QString& p) { return fs::path(QFile::encodeName(p).toStdString()); }

QString describe(const std::error_code& ec) { return QString::fromLocal8Bit(ec.message().c_str()); }

// Puts `staged` in place of `output` in one step, so an old output is replaced only by a complete
// new one and survives any failure. Across file systems the copy goes to a hidden name beside the
// output first. Returns an empty text on success.
QString deliver(const QString& staged, const QString& output) {
    std::error_code ec;
    const fs::path from = fsPath(staged), to = fsPath(output);
    fs::rename(from, to, ec);
    if (!ec) return {};
    if (ec != std::errc::cross_device_link)
        return "cannot deliver " + QFileInfo(output).fileName() + ": " + describe(ec);

    const QString hidden = u'.' + QFileInfo(output).fileName() + u'.' + QUuid::createUuid().toString(QUuid::Id128);
    const fs::path part = to.parent_path() / fsPath(hidden);
    fs::copy_file(from, part, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(part, to, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(part, ignored);
        return "cannot deliver " + QFileInfo(output).fileName() + ": " + describe(ec);
    }
    fs::remove(from, ec);
    return {};
}

QString stagingPath() {
    return QDir::tempPath() + "/trevalo-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// A request keeps going until its scratch files are gone, even when its caller goes away first;
// the caller going away, like cancelling the caller's token, stops its engine.
Token linked(const Token& outer, QObject* context) {
    auto inner = makeToken();
    if (outer) {
        if (outer->isCancelled()) inner->cancel();
        else QObject::connect(outer.get(), &CancelToken::cancelled, inner.get(), &CancelToken::cancel);
    }
    if (context) QObject::connect(context, &QObject::destroyed, inner.get(), &CancelToken::cancel);
    return inner;
}

QObject* app() { return QCoreApplication::instance(); }

// One job in flight; owns its staging folder until the job has ended.
struct Perform : std::enable_shared_from_this<Perform> {
    Job job;
    Token token;
    QPointer<QObject> context;
    std::function<void(std::optional<QString>)> done;
    ProgressFn progress;
    QString stage;
    QStringList staged;
    QStringList sounds;  // staged videos still waiting for their sound

    void start() {
        if (token->isCancelled()) return end(QStringLiteral("cancelled"));
        stage = stagingPath();
        if (!QDir().mkpath(stage)) return end("cannot create " + stage);
        QStringList args = job.args;
        for (QString& a : args) a.replace(QStringLiteral("{TMP}"), stage);
        for (const QString& out : job.outputs) staged << stage + u'/' + QFileInfo(out).fileName();
        if (!job.audio.isEmpty())
            for (const QString& s : staged)
                if (QFileInfo(s).suffix() == u"mp4") sounds << s;
        auto self = shared_from_this();
        ProgressFn frames;
        // Only the commands that write frames report them; the sound steps after are short.
        if (progress && !args.isEmpty() && (args[0] == u"frame" || args[0] == u"spin")) {
            args << QStringLiteral("--progress");
            frames = [self](double f) {
                if (self->context && self->progress) self->progress(f);
            };
        }
        run(
            args, token, app(), [self](Outcome o) { self->afterEngine(o); }, frames);
    }

    void afterEngine(const Outcome& o) {
        if (!o.ok()) return end(o.message);
        if (!sounds.isEmpty()) {
            const QString video = sounds.takeFirst();
            auto self = shared_from_this();
            return run({"audio", video, job.audio}, token, app(), [self](Outcome r) { self->afterEngine(r); });
        }
        // The engine may have finished just as the render was cancelled: deliver nothing then.
        if (token->isCancelled()) return end(QStringLiteral("cancelled"));
        auto self = shared_from_this();
        detail::offThread(
            app(),
            [job = job, staged = staged, stage = stage]() -> QString {
                QString error;
                for (qsizetype i = 0; i < job.outputs.size() && error.isEmpty(); ++i)
                    error = deliver(staged[i], job.outputs[i]);
                if (error.isEmpty())
                    for (const QString& s : job.stale) QFile::remove(s);
                QDir(stage).removeRecursively();
                return error;
            },
            [self](QString error) { self->finish(error.isEmpty() ? std::nullopt : std::optional<QString>(error)); });
    }

    // Failure or cancellation: nothing reaches the output folder, the staging folder goes.
    void end(const QString& message) {
        auto self = shared_from_this();
        detail::offThread(
            app(),
            [stage = stage] {
                if (!stage.isEmpty()) QDir(stage).removeRecursively();
                return 0;
            },
            [self, message](int) { self->finish(message); });
    }

    void finish(std::optional<QString> result) {
        auto d = std::exchange(done, nullptr);
        if (d && context) d(std::move(result));
    }
};

}  // namespace

QMap<Theme, double> backdropsFrom(const QString& text) {
    QMap<Theme, double> map;
    for (Theme t : {Theme::dark, Theme::light}) {
        static const QString tail = QStringLiteral("=\"#[0-9a-fA-F]{6}");
        const QRegularExpression re("theme_" + themeName(t) + tail);
        const QRegularExpressionMatch m = re.match(text);
        if (!m.hasMatch()) continue;
        bool ok = false;
        const int red = m.captured(0).right(6).left(2).toInt(&ok, 16);
        if (ok) map.insert(t, red / 255.0);
    }
    return map;
}

QMap<Theme, double> backdrops() {
    // Read once: the look file ships with the application and does not change while it runs.
    static const QMap<Theme, double> map = [] {
        const QString path = look();
        if (path.isEmpty()) return QMap<Theme, double>();
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return QMap<Theme, double>();
        return backdropsFrom(QString::fromUtf8(f.readAll()));
    }();
    return map;
}

double backdrop(Theme t) {
    const auto map = backdrops();
    if (auto it = map.find(t); it != map.end()) return *it;
    return t == Theme::dark ? 50 / 255.0 : 209 / 255.0;
}

void preview(const PreviewKey& key, Token token, QObject* context, std::function<void(Outcome, QImage)> done) {
    const QString dir = QDir::tempPath() + "/trevalo-preview";
    if (!QDir().mkpath(dir)) {
        detail::post(context, [done, dir] { done(Outcome::failure("cannot create " + dir), {}); });
        return;
    }
    const QString out = dir + u'/' + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + ".png";
    const QStringList args = QStringList{kindOf(key.path) == Kind::video ? "poster" : "still",
                                         key.path,
                                         out,
                                         "--size",
                                         shapeSize(key.shape, 1),
                                         "--theme",
                                         themeName(key.theme),
                                         "--layout",
                                         shapeCloseup(key.shape) ? "closeup" : "full"} +
                             dressArgs(key.caption, key.place, key.backdrop);
    QPointer<QObject> ctx(context);
    run(args, linked(token, context), app(), [ctx, out, done](Outcome o) {
        if (!o.ok()) {
            QFile::remove(out);  // a cancelled engine may have left part of it
            if (ctx) done(o, {});
            return;
        }
        detail::offThread(
            ctx.data(),
            [out]() -> std::pair<Outcome, QImage> {
                QFile f(out);
                std::pair<Outcome, QImage> r;
                if (!f.open(QIODevice::ReadOnly)) {
                    r.first = Outcome::failure(f.errorString());
                } else {
                    r.second = QImage::fromData(f.readAll());
                    if (r.second.isNull()) r.first = Outcome::failure(QStringLiteral("could not read the preview"));
                }
                f.close();
                QFile::remove(out);
                return r;
            },
            [done](std::pair<Outcome, QImage> r) { done(r.first, r.second); });
    });
}

void perform(const Job& job, Token token, QObject* context, std::function<void(std::optional<QString>)> done,
             ProgressFn progress) {
    auto p = std::make_shared<Perform>();
    p->job = job;
    p->token = linked(token, context);
    p->context = context;
    p->done = std::move(done);
    p->progress = std::move(progress);
    // Started from the event loop so that `done` never runs inside this call.
    detail::post(context, [p] { p->start(); });
}

}  // namespace Engine
