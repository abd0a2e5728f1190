#include "studio.h"
#include "engine/engine.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <QUrl>
#include <QWidget>

#include <cmath>

struct Studio::RenderRun {
    Token token;
    QList<Job> jobs;
    qsizetype next = 0;
    int running = 0;
    int done = 0, total = 0, files = 0;
    QStringList failed;
    QSet<QString> failedSources;
    QHash<qsizetype, double> underWay;  // by job: its output files times the fraction written
    QString folder;
    QElapsedTimer clock;

    double partial() const {
        double sum = 0;
        for (double d : underWay) sum += d;
        return sum;
    }
};

void Studio::render() {
    if (!canRender()) return;
    auto run = std::make_shared<RenderRun>();
    run->jobs = plan();
    run->folder = outputFolder();
    for (const Job& j : run->jobs) run->total += int(j.outputs.size());
    run->clock.start();
    run->token = m_renderToken = makeToken();
    setPhase(Phase::rendering(0, run->total));

    QMetaObject::invokeMethod(
        this,
        [this, run] {
            if (run->token->isCancelled()) {
                m_renderToken.reset();
                return setPhase(Phase::idle());
            }
            if (!QDir().mkpath(run->folder)) {
                m_renderToken.reset();
                return setPhase(Phase::finished(0, {"cannot create " + run->folder}, 0, run->folder));
            }
            // Recordings lead the plan, so the longest engine runs start first.
            const int width = std::max(2, QThread::idealThreadCount());
            while (run->running < width && run->next < run->jobs.size()) startJob(run);
            if (run->jobs.isEmpty()) jobEnded(run, {}, std::nullopt);
        },
        Qt::QueuedConnection);
}

void Studio::startJob(const std::shared_ptr<RenderRun>& run) {
    const qsizetype index = run->next++;
    const Job job = run->jobs[index];
    ++run->running;
    Engine::perform(
        job, run->token, this,
        [this, run, job, index](std::optional<QString> error) {
            run->underWay.remove(index);
            jobEnded(run, job, error);
        },
        [this, run, index, files = double(job.outputs.size())](double fraction) {
            run->underWay[index] = files * fraction;
            setPhase(Phase::rendering(run->done, run->total, run->partial()));
        });
}

void Studio::jobEnded(const std::shared_ptr<RenderRun>& run, const Job& job, const std::optional<QString>& error) {
    if (!job.source.isEmpty()) {
        --run->running;
        const int n = int(job.outputs.size());
        run->done += n;
        if (!error) {
            run->files += n;
        } else if (!run->failedSources.contains(job.source)) {
            run->failedSources.insert(job.source);
            run->failed << QFileInfo(job.source).fileName() + " — " + *error;
        }
        setPhase(Phase::rendering(run->done, run->total, run->partial()));
        if (run->next < run->jobs.size()) return startJob(run);
    }
    if (run->running > 0) return;

    if (m_renderToken == run->token) m_renderToken.reset();
    if (run->token->isCancelled()) return setPhase(Phase::idle());
    const int seconds = int(std::lround(run->clock.elapsed() / 1000.0));
    setPhase(Phase::finished(run->files, run->failed, seconds, run->folder));
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) &&
        QGuiApplication::applicationState() != Qt::ApplicationActive) {
        emit attentionRequested();
        if (qobject_cast<QApplication*>(QCoreApplication::instance()))
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->isWindow() && w->isVisible()) QApplication::alert(w);
    }
}

void Studio::cancelRender() {
    if (m_renderToken) m_renderToken->cancel();
}

void Studio::showOutput() const {
    const QString folder = outputFolder();
    if (QFileInfo(folder).isDir()) showFolder(folder);
}

void Studio::showFolder(const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); }
