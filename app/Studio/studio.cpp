#include "studio.h"

#include <QApplication>
#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <algorithm>

namespace {

QString defaultOutRoot() {
    const QString desktop = QDir::home().filePath(QStringLiteral("Desktop"));
    return QFileInfo(desktop).isDir() ? desktop : QDir::homePath();
}

QString patterns(std::initializer_list<const QStringList*> lists) {
    // Both cases, since a file chooser may match names case-sensitively.
    QStringList out;
    for (const QStringList* list : lists)
        for (const QString& ext : *list) out << "*." + ext << "*." + ext.toUpper();
    return out.join(u' ');
}

QWidget* dialogParent() { return QApplication::activeWindow(); }

}  // namespace

Studio::Studio(QSettings* store, QObject* parent) : QObject(parent), m_store(store) {
    m_theme = themeFromName(m_store->value("theme").toString());
    for (const QString& n : m_store->value("shapes").toStringList())
        if (auto s = shapeFromName(n)) m_shapes.insert(*s);
    if (m_shapes.isEmpty()) m_shapes = {Shape::vertical, Shape::horizontal, Shape::square};
    m_spin = m_store->value("spin", false).toBool();
    const QString audio = m_store->value("audio").toString();
    if (!audio.isEmpty() && QFileInfo(audio).isFile()) m_audio = audio;
    m_outRoot = m_store->value("outRoot").toString();
    if (m_outRoot.isEmpty()) m_outRoot = defaultOutRoot();
    m_captionPlace = captionPlaceFromName(m_store->value("caption").toString());
    m_backdrop = Backdrop::fromText(m_store->value("backdrop").toString()).value_or(Backdrop{});
    m_previewShape = orderedShapes().value(0, Shape::vertical);

    // Fonts, and so the placeholder's text, need a GUI application.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) prepareBlank();

    m_noticeTimer.setSingleShot(true);
    m_noticeTimer.setInterval(noticeMs);
    connect(&m_noticeTimer, &QTimer::timeout, this, [this] {
        if (m_notice.isEmpty()) return;
        m_notice.clear();
        emit noticeChanged();
    });
}

Studio::~Studio() {
    // Engines still working for this model end with it.
    if (m_previewToken) m_previewToken->cancel();
    if (m_renderToken) m_renderToken->cancel();
}

Studio& Studio::shared() {
    static Studio* studio =
        new Studio(new QSettings(QStringLiteral("trevalo"), QStringLiteral("trevalo")), QCoreApplication::instance());
    return *studio;
}

QList<Shape> Studio::orderedShapes() const {
    QList<Shape> out;
    for (Shape s : allShapes)
        if (m_shapes.contains(s)) out << s;
    return out;
}

bool Studio::canRender() const { return !m_inputs.isEmpty() && !m_shapes.isEmpty() && !m_phase.isRendering(); }

bool Studio::hasVideoOutput() const {
    return m_spin ||
           std::any_of(m_inputs.begin(), m_inputs.end(), [](const Input& i) { return i.kind == Kind::video; });
}

void Studio::saveSetting(const char* key) {
    const QString k = QString::fromLatin1(key);
    if (k == u"theme") m_store->setValue(k, themeName(m_theme));
    else if (k == u"spin") m_store->setValue(k, m_spin);
    else if (k == u"outRoot") m_store->setValue(k, m_outRoot);
    else if (k == u"caption") m_store->setValue(k, captionPlaceName(m_captionPlace));
    else if (k == u"backdrop") {
        if (m_backdrop.isTheme()) m_store->remove(k);
        else m_store->setValue(k, m_backdrop.text());
    } else if (k == u"audio") {
        if (m_audio.isEmpty()) m_store->remove(k);
        else m_store->setValue(k, m_audio);
    } else if (k == u"shapes") {
        QStringList names;
        for (Shape s : orderedShapes()) names << shapeName(s);
        m_store->setValue(k, names);
    }
}

void Studio::settingChanged(const char* key) {
    saveSetting(key);
    emit settingsChanged();
    touch();
    checkPreviewKey();
}

void Studio::setTheme(Theme t) {
    if (t == m_theme) return;
    m_theme = t;
    settingChanged("theme");
}

void Studio::toggle(Shape s) {
    if (m_shapes.contains(s)) {
        if (m_shapes.size() < 2) return;
        m_shapes.remove(s);
    } else {
        m_shapes.insert(s);
    }
    settingChanged("shapes");
}

void Studio::setSpin(bool on) {
    if (on == m_spin) return;
    m_spin = on;
    settingChanged("spin");
}

void Studio::setAudio(const QString& path) {
    const QString p = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    if (p == m_audio) return;
    m_audio = p;
    settingChanged("audio");
}

void Studio::setOutRoot(const QString& folder) {
    const QString p = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    if (folder.isEmpty() || p == m_outRoot) return;
    m_outRoot = p;
    settingChanged("outRoot");
}

void Studio::setCaptionPlace(CaptionPlace p) {
    if (p == m_captionPlace) return;
    m_captionPlace = p;
    settingChanged("caption");
}

void Studio::setBackdrop(const Backdrop& b) {
    if (b == m_backdrop) return;
    m_backdrop = b;
    settingChanged("backdrop");
}

void Studio::chooseBackdrop() {
    const QColor start = QColor::fromRgb(m_backdrop.isTheme() ? 0x1b3a6bu : m_backdrop.stops.first());
    auto* dialog = new QColorDialog(start, dialogParent());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Backdrop"));
    connect(dialog, &QColorDialog::colorSelected, this, [this](const QColor& c) {
        if (c.isValid()) setBackdrop(Backdrop::solid(c.rgb()));
    });
    dialog->open();
}

void Studio::setCaption(const QString& path, const Caption& c) {
    if (!std::any_of(m_inputs.begin(), m_inputs.end(), [&](const Input& i) { return i.path == path; })) return;
    if (c == m_captions.value(path)) return;
    if (c == Caption{}) m_captions.remove(path);
    else m_captions.insert(path, c);
    emit captionsChanged();
    touch();
    checkPreviewKey();
}

void Studio::setName(const QString& typed) {
    const bool changed = typed != m_name || !m_nameEdited;
    m_name = typed;
    m_nameEdited = true;
    if (changed) emit nameChanged();
}

void Studio::setEditingName(bool editing) {
    if (editing == m_editingName) return;
    m_editingName = editing;
    emit editingNameChanged();
}

void Studio::setSelected(const QString& path) {
    if (path == m_selected) return;
    m_selected = path;
    emit selectionChanged();
    checkPreviewKey();
}

void Studio::setPreviewShape(Shape s) {
    if (s == m_previewShape) return;
    m_previewShape = s;
    emit previewShapeChanged();
    checkPreviewKey();
}

void Studio::join(const QString& path, bool& changed) {
    for (const Input& i : m_inputs)
        if (i.path == path) return;
    m_inputs.append({path, kindOf(path)});
    changed = true;
}

void Studio::add(const QStringList& paths) {
    QStringList rejected;
    bool changed = false;
    for (const QString& raw : paths) {
        const QFileInfo info(raw);
        const QString path = QDir::cleanPath(info.absoluteFilePath());
        if (info.isDir()) {
            // Hidden files are left out; an unreadable folder lists nothing.
            QStringList names = QDir(path).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
            std::sort(names.begin(), names.end(),
                      [](const QString& a, const QString& b) { return a.toUtf8() < b.toUtf8(); });
            for (const QString& n : names) {
                const Kind k = kindOf(n);
                if (k == Kind::image || k == Kind::video) join(path + u'/' + n, changed);
            }
            continue;
        }
        switch (kindOf(path)) {
        case Kind::image:
        case Kind::video: join(path, changed); break;
        case Kind::audio: setAudio(path); break;
        case Kind::other: rejected << info.fileName(); break;
        }
    }
    if (changed) emit inputsChanged();
    if (m_selected.isEmpty() && !m_inputs.isEmpty()) setSelected(m_inputs.first().path);
    followName();
    touch();
    if (rejected.size() == 1) say("Skipped " + rejected.first() + " — not a screenshot, recording or sound");
    else if (rejected.size() > 1)
        say("Skipped " + QString::number(rejected.size()) + " files — not screenshots, recordings or sounds");
}

void Studio::openFiles() {
    auto* dialog = new QFileDialog(dialogParent(), QStringLiteral("Screenshots, screen recordings, or a sound"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setNameFilter("Screenshots, recordings and sounds (" +
                          patterns({&imageExtensions(), &videoExtensions(), &soundExtensions()}) + ")");
    connect(dialog, &QFileDialog::filesSelected, this, &Studio::add);
    dialog->open();
}

void Studio::chooseAudio() {
    auto* dialog = new QFileDialog(dialogParent(), QStringLiteral("A sound to lay under every video"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter("Sounds (" + patterns({&soundExtensions()}) + ")");
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& f) {
        if (!f.isEmpty()) setAudio(f);
    });
    dialog->open();
}

void Studio::chooseFolder() {
    auto* dialog = new QFileDialog(dialogParent(), QString(), m_outRoot);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Choose"));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& f) {
        if (!f.isEmpty()) setOutRoot(f);
    });
    dialog->open();
}

void Studio::remove(const Input& input) {
    const QString path = input.path;
    const auto removed = m_inputs.removeIf([&](const Input& i) { return i.path == path; });
    const bool thumbGone = m_thumbs.remove(path) + m_durations.remove(path) > 0;
    if (removed) emit inputsChanged();
    if (m_captions.remove(path)) emit captionsChanged();
    if (thumbGone) emit thumbsChanged();
    if (m_selected == path) setSelected(m_inputs.isEmpty() ? QString() : m_inputs.first().path);
    if (m_inputs.isEmpty()) m_nameEdited = false;
    followName();
    touch();
}

void Studio::removeSelected() {
    for (const Input& i : m_inputs)
        if (i.path == m_selected) return remove(i);
}

void Studio::step(int delta) {
    const auto count = m_inputs.size();
    for (qsizetype i = 0; i < count; ++i)
        if (m_inputs[i].path == m_selected) {
            const qsizetype next = ((i + delta) % count + count) % count;
            return setSelected(m_inputs[next].path);
        }
}

void Studio::say(const QString& text) {
    // A newer notice always gets its full time.
    m_noticeTimer.start();
    if (text == m_notice) return;
    m_notice = text;
    emit noticeChanged();
}

void Studio::touch() {
    if (m_phase.kind == Phase::Case::finished) setPhase(Phase::idle());
    const QList<Shape> shapes = orderedShapes();
    if (!m_shapes.contains(m_previewShape) && !shapes.isEmpty()) setPreviewShape(shapes.first());
}

void Studio::followName() {
    if (m_nameEdited) return;
    const QString n = m_inputs.isEmpty() ? QString() : defaultName(QFileInfo(m_inputs.first().path).fileName());
    if (n == m_name) return;
    m_name = n;
    emit nameChanged();
}

QString Studio::defaultName(const QString& fileName) {
    static const QRegularExpression counter(QStringLiteral("_[0-9]+$"));
    static const QRegularExpression word(
        QStringLiteral("[._-](screenshot|screenrecording|screen_recording|screenrecord|recording|rec|shot)$"));
    const QString base = stripExtension(fileName);
    QString n = base;
    if (auto m = counter.match(n); m.hasMatch()) n.remove(m.capturedStart(), m.capturedLength());
    if (auto m = word.match(n); m.hasMatch()) n.remove(m.capturedStart(), m.capturedLength());
    return n.isEmpty() ? base : n;
}

QString Studio::folderName() const {
    QString n = m_name.trimmed();
    n.replace(u'/', u'-').replace(u':', u'-');
    qsizetype dots = 0;
    while (dots < n.size() && n[dots] == u'.') ++dots;
    n.remove(0, dots);
    return n.isEmpty() ? QStringLiteral("trevalo") : n;
}

QString Studio::outputFolder() const { return QDir(m_outRoot).filePath(folderName() + "_trevalo"); }

void Studio::setPhase(const Phase& p) {
    if (p == m_phase) return;
    m_phase = p;
    emit phaseChanged();
}
