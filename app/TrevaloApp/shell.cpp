#include "shell.h"
#include "Views/canvas.h"
#include "Views/content.h"
#include "Views/labels.h"
#include "Views/sidebar.h"
#include "Studio/studio.h"
#include "engine/engine.h"

#include <QActionGroup>
#include <QApplication>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QMenuBar>
#include <QPixmap>
#include <QTimer>

#include <QSocketNotifier>

#include <cmath>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

MainWindow::MainWindow(Studio& studio, QWidget* parent) : QMainWindow(parent), m_studio(studio) {
    setWindowTitle(QStringLiteral("trevalo"));
    setObjectName(QStringLiteral("main"));
    m_content = new ContentView(studio, this);
    setCentralWidget(m_content);
    resize(defaultSize);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    m_addFiles = file->addAction(QStringLiteral("Add Files…"), &m_studio, &Studio::openFiles);
    m_addFiles->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    file->addSeparator();
    m_previous = file->addAction(QStringLiteral("Previous File"), this, [this] { m_studio.step(-1); });
    m_previous->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_BracketLeft));
    m_next = file->addAction(QStringLiteral("Next File"), this, [this] { m_studio.step(+1); });
    m_next->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_BracketRight));
    m_remove = file->addAction(QStringLiteral("Remove File"), &m_studio, &Studio::removeSelected);
    m_remove->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Backspace), QKeySequence(Qt::Key_Delete)});
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("Quit"), qApp, &QApplication::closeAllWindows);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setMenuRole(QAction::QuitRole);

    m_previewMenu = menuBar()->addMenu(QStringLiteral("&Preview"));
    m_previewGroup = new QActionGroup(this);
    m_previewGroup->setExclusive(true);

    QMenu* render = menuBar()->addMenu(QStringLiteral("&Render"));
    m_render = render->addAction(QStringLiteral("Render"), &m_studio, &Studio::render);
    m_render->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    m_showOutput = render->addAction(QStringLiteral("Show Output Folder"), &m_studio, &Studio::showOutput);
    m_showOutput->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));

    for (auto signal : {&Studio::inputsChanged, &Studio::selectionChanged, &Studio::phaseChanged,
                        &Studio::editingNameChanged, &Studio::settingsChanged})
        connect(&m_studio, signal, this, &MainWindow::refreshActions);
    connect(&m_studio, &Studio::settingsChanged, this, &MainWindow::rebuildPreviewMenu);
    connect(&m_studio, &Studio::previewShapeChanged, this, &MainWindow::rebuildPreviewMenu);
    rebuildPreviewMenu();
    refreshActions();
}

void MainWindow::refreshActions() {
    const bool several = m_studio.inputs().size() >= 2;
    m_previous->setEnabled(several);
    m_next->setEnabled(several);
    m_remove->setEnabled(!m_studio.selected().isEmpty() && !m_studio.phase().isRendering() && !m_studio.editingName());
    m_render->setEnabled(m_studio.canRender());
}

void MainWindow::rebuildPreviewMenu() {
    const QList<Shape> shapes = m_studio.orderedShapes();
    if (shapes != m_previewShapes) {
        // Digits follow the position among the chosen shapes, so they are handed out afresh.
        m_previewShapes = shapes;
        for (QAction* a : m_previewGroup->actions()) {
            m_previewGroup->removeAction(a);
            m_previewMenu->removeAction(a);
            a->deleteLater();
        }
        for (int i = 0; i < shapes.size(); ++i) {
            const Shape s = shapes[i];
            QAction* a = m_previewMenu->addAction(shapeTitle(s), this, [this, s] { m_studio.setPreviewShape(s); });
            a->setCheckable(true);
            a->setData(int(s));
            if (i < 9) a->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + i)));
            m_previewGroup->addAction(a);
        }
    }
    for (QAction* a : m_previewGroup->actions()) a->setChecked(Shape(a->data().toInt()) == m_studio.previewShape());
}

void MainWindow::present() {
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
}

namespace DevHooks {

std::optional<Scheme> appearance(const QProcessEnvironment& env) {
    if (!env.contains(QStringLiteral("TREVALO_APPEARANCE"))) return std::nullopt;
    return env.value(QStringLiteral("TREVALO_APPEARANCE")) == u"light" ? Scheme::light : Scheme::dark;
}

double snapshotDelay(const QProcessEnvironment& env) {
    bool ok = false;
    const double d = env.value(QStringLiteral("TREVALO_SNAPSHOT_DELAY")).trimmed().toDouble(&ok);
    return ok && std::isfinite(d) && d >= 0 ? d : 4.0;
}

bool snapshot(QWidget* window, const QString& path) {
    if (!window || path.isEmpty()) return false;
    // A dialog in front of the window is what the user sees, so it is the picture.
    QWidget* target = window;
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) target = modal;
    const QPixmap shot = target->grab();
    return !shot.isNull() && shot.save(path, "PNG");
}

void apply(MainWindow& window, Studio& studio, const QProcessEnvironment& env) {
    if (auto scheme = appearance(env)) Appearance::shared().setScheme(*scheme);
    if (env.contains(QStringLiteral("TREVALO_AUTORENDER"))) QTimer::singleShot(1000, &studio, &Studio::render);
    if (env.contains(QStringLiteral("TREVALO_SNAPSHOT"))) {
        const QString path = env.value(QStringLiteral("TREVALO_SNAPSHOT"));
        const int ms = int(std::lround(std::min(snapshotDelay(env), 86400.0) * 1000));
        QTimer::singleShot(ms, &window, [&window, path] { snapshot(&window, path); });
    }
}

}  // namespace DevHooks

void stopEngines(Studio& studio, int waitMs) {
    // Cancel first, so that the render does not start its next job as the engines end.
    studio.cancelRender();
    studio.loadPreview(std::nullopt);
    Engine::terminateAll();
    QDeadlineTimer deadline(waitMs);
    while (Engine::liveCount() > 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
}

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    // Only async-signal-safe work here: the event loop reads the byte and quits.
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[0], &byte, 1);
}

}  // namespace

void quitOnSignals() {
    if (g_signalPipe[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[1], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
}

QString Forwarder::defaultName() { return QStringLiteral("trevalo-") + QString::number(getuid()); }

Forwarder::Forwarder(const QString& name, QObject* parent) : QObject(parent), m_name(name) {
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* sock = m_server.nextPendingConnection()) {
            sock->setParent(this);
            // A batch is one UTF-8 path per line; it is complete when the sender hangs up.
            auto* buffer = new QByteArray;
            connect(sock, &QLocalSocket::readyRead, sock, [sock, buffer] { buffer->append(sock->readAll()); });
            connect(sock, &QLocalSocket::disconnected, this, [this, sock, buffer] {
                buffer->append(sock->readAll());
                QStringList paths;
                for (const QByteArray& line : buffer->split('\n'))
                    if (!line.isEmpty()) paths << QString::fromUtf8(line);
                delete buffer;
                sock->deleteLater();
                emit received(paths);
            });
        }
    });
}

bool Forwarder::listen() {
    // Listening with access options replaces an existing socket file, so a running window is
    // asked first; a file left by a crashed one answers nobody and is taken over.
    if (send(m_name, {}, 500)) return false;
    QLocalServer::removeServer(m_name);
    return m_server.listen(m_name);
}

bool Forwarder::send(const QString& name, const QStringList& paths, int timeoutMs) {
    QLocalSocket sock;
    sock.connectToServer(name);
    if (!sock.waitForConnected(timeoutMs)) return false;
    QByteArray bytes;
    for (const QString& p : paths) bytes += p.toUtf8() + '\n';
    if (!paths.isEmpty() && sock.write(bytes) != bytes.size()) return false;
    if (!sock.flush() && sock.bytesToWrite() > 0 && !sock.waitForBytesWritten(timeoutMs)) return false;
    sock.disconnectFromServer();
    if (sock.state() != QLocalSocket::UnconnectedState) sock.waitForDisconnected(timeoutMs);
    return true;
}

QStringList Forwarder::filesFrom(const QStringList& arguments, const QString& cwd) {
    QStringList out;
    const QDir dir(cwd);
    bool options = true;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (options && a == u"--") {
            options = false;
            continue;
        }
        if (options && a.startsWith(u'-')) continue;
        out << QDir::cleanPath(dir.absoluteFilePath(a));
    }
    return out;
}
