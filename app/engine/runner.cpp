#include "engine.h"
#include "async.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QProcess>
#include <QProcessEnvironment>

#include <mutex>

namespace Engine {
namespace {

std::mutex g_dirLock;
QString g_appDir;

// Processes registered for launch whose exit has not been seen yet. All runs start and end on
// the GUI thread; the lock keeps terminateAll() safe from any thread.
std::mutex g_liveLock;
QHash<QProcess*, QPointer<QProcess>>& live() {
    static QHash<QProcess*, QPointer<QProcess>> map;
    return map;
}

void unregister(QProcess* p) {
    std::lock_guard lock(g_liveLock);
    live().remove(p);
}

// Paths are cleaned first: an unused bin/ folder of the layout need not exist for ../libexec.
QString executableAt(const QString& path) {
    const QFileInfo f(QDir::cleanPath(path));
    return f.isFile() && f.isExecutable() ? QDir::cleanPath(f.absoluteFilePath()) : QString();
}

QString fileAt(const QString& path) {
    const QFileInfo f(QDir::cleanPath(path));
    return f.isFile() ? QDir::cleanPath(f.absoluteFilePath()) : QString();
}

}  // namespace

void setAppDir(const QString& dir) {
    std::lock_guard lock(g_dirLock);
    g_appDir = dir;
}

QString appDir() {
    {
        std::lock_guard lock(g_dirLock);
        if (!g_appDir.isEmpty()) return g_appDir;
    }
    return QCoreApplication::applicationDirPath();
}

QString enginePath() { return executableAt(appDir() + "/pellmar"); }

QString look() {
    const QString dir = appDir();
    QString p = fileAt(dir + "/look.conf");
    return p.isEmpty() ? fileAt(dir + "/../share/trevalo/look.conf") : p;
}

QString firstLine(const QByteArray& bytes) {
    // Lossy decoding: a path in the message with a stray byte still reaches the user.
    const QString text = QString::fromUtf8(bytes);
    for (QStringView line : QStringView(text).split(u'\n')) {
        if (line.endsWith(u'\r')) line.chop(1);
        if (!line.isEmpty()) return line.toString();
    }
    return QStringLiteral("render failed");
}

std::optional<double> progressOf(QByteArrayView line) {
    static constexpr QByteArrayView word = "progress ";
    if (!line.startsWith(word)) return std::nullopt;
    const QList<QByteArray> counts = line.sliced(word.size()).trimmed().toByteArray().split(' ');
    bool ok1 = false, ok2 = false;
    const qlonglong done = counts.value(0).toLongLong(&ok1), total = counts.value(1).toLongLong(&ok2);
    if (counts.size() != 2 || !ok1 || !ok2 || done < 0 || total <= 0) return std::nullopt;
    return std::min(1.0, double(done) / double(total));
}

void run(const QStringList& args, Token token, QObject* context, std::function<void(Outcome)> done,
         ProgressFn progress) {
    using detail::post;
    const QString exe = enginePath();
    const QString lookPath = look();
    if (exe.isEmpty() || lookPath.isEmpty()) {
        post(context, [done] { done(Outcome::failure(missingMessage)); });
        return;
    }
    if (token && token->isCancelled()) {
        post(context, [done] { done(Outcome::cancel()); });
        return;
    }

    // No parent: the process object lives until its exit has been seen, whatever the context does.
    auto* proc = new QProcess;
    proc->setProgram(exe);
    proc->setArguments(args);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TREVALO_LOOK"), lookPath);
    proc->setProcessEnvironment(env);
    if (progress) {
        // Whole lines only; the "saved " lines and anything else are let go as they come.
        auto pending = std::make_shared<QByteArray>();
        QObject::connect(proc, &QProcess::readyReadStandardOutput, proc,
                         [proc, pending, progress, context = QPointer<QObject>(context)] {
                             pending->append(proc->readAllStandardOutput());
                             qsizetype start = 0;
                             for (qsizetype end; (end = pending->indexOf('\n', start)) >= 0; start = end + 1)
                                 if (auto f = progressOf(QByteArrayView(*pending).sliced(start, end - start));
                                     f && context)
                                     progress(*f);
                             pending->remove(0, start);
                             if (pending->size() > 4096) pending->clear();  // no line is that long
                         });
    } else {
        proc->setStandardOutputFile(QProcess::nullDevice());
    }

    // Standard error is drained as it arrives, so a talkative engine never stalls on a full pipe.
    // Only its first line is ever shown; past a generous limit the rest is read and dropped.
    auto buffer = std::make_shared<QByteArray>();
    auto drain = [proc, buffer] {
        constexpr qsizetype keep = 1 << 20;
        const QByteArray chunk = proc->readAllStandardError();
        if (buffer->size() < keep) buffer->append(chunk.left(keep - buffer->size()));
    };
    QObject::connect(proc, &QProcess::readyReadStandardError, proc, drain);

    // Exactly one of the exit and the launch failure ends the run. The token is held until then
    // so that cancelling keeps reaching the process.
    auto ended = std::make_shared<bool>(false);
    auto finish = [proc, ended, token, context = QPointer<QObject>(context), done](Outcome o) {
        if (*ended) return;
        *ended = true;
        unregister(proc);
        proc->deleteLater();
        if (context) post(context, [done, o] { done(o); });
    };
    QObject::connect(proc, &QProcess::finished, proc, [buffer, drain, finish](int code, QProcess::ExitStatus status) {
        drain();
        if (status == QProcess::CrashExit) finish(Outcome::cancel());
        else if (code == 0) finish(Outcome::success());
        else finish(Outcome::failure(firstLine(*buffer)));
    });
    QObject::connect(proc, &QProcess::errorOccurred, proc, [proc, finish](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) finish(Outcome::failure(proc->errorString()));
    });

    auto stop = [proc] {
        if (proc->state() != QProcess::NotRunning) proc->terminate();
    };
    if (token) QObject::connect(token.get(), &CancelToken::cancelled, proc, stop);
    // An engine must not outlive the object waiting for it.
    if (context) QObject::connect(context, &QObject::destroyed, proc, stop);

    {
        std::lock_guard lock(g_liveLock);
        live().insert(proc, proc);
    }
    proc->start();
}

void terminateAll() {
    QList<QPointer<QProcess>> procs;
    {
        std::lock_guard lock(g_liveLock);
        procs = live().values();
    }
    for (const auto& p : procs)
        if (p && p->state() != QProcess::NotRunning) p->terminate();
}

int liveCount() {
    std::lock_guard lock(g_liveLock);
    return int(live().size());
}

}  // namespace Engine
