#pragma once
// The window's document model: inputs, settings, naming, notices, render plans and runs,
// previews and thumbnails. One instance lives on the GUI thread; views read it through the const
// getters, call its operations, and redraw on its change signals.

#include "values.h"
#include "engine/cancel.h"

#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

class QSettings;

class Studio : public QObject {
    Q_OBJECT
public:
    // Reads the settings from `store`, which it takes over.
    explicit Studio(QSettings* store, QObject* parent = nullptr);
    ~Studio() override;
    // The application's instance, made on first use with the desktop's settings store.
    static Studio& shared();

    const QList<Input>& inputs() const { return m_inputs; }
    QString selected() const { return m_selected; }  // empty: nothing selected
    const QHash<QString, QImage>& thumbs() const { return m_thumbs; }
    const QHash<QString, double>& durations() const { return m_durations; }
    Theme theme() const { return m_theme; }
    bool hasShape(Shape s) const { return m_shapes.contains(s); }
    QList<Shape> orderedShapes() const;
    bool spin() const { return m_spin; }
    QString audio() const { return m_audio; }  // empty: no sound
    QString outRoot() const { return m_outRoot; }
    CaptionPlace captionPlace() const { return m_captionPlace; }
    Backdrop backdrop() const { return m_backdrop; }
    // An input's caption as typed; kept while the window runs, never stored.
    Caption caption(const QString& path) const { return m_captions.value(path); }
    QString name() const { return m_name; }
    bool nameEdited() const { return m_nameEdited; }
    bool editingName() const { return m_editingName; }
    QString notice() const { return m_notice; }  // empty: no notice
    Shape previewShape() const { return m_previewShape; }
    QImage preview() const { return m_preview; }
    std::optional<PreviewKey> shown() const { return m_shown; }
    bool previewLoading() const { return m_previewLoading; }
    QString previewError() const { return m_previewError; }
    Phase phase() const { return m_phase; }
    bool canRender() const;
    bool hasVideoOutput() const;

    // Settings: each change is stored at once and settles the state (touch).
    void setTheme(Theme t);
    void toggle(Shape s);  // the last chosen shape stays on
    void setSpin(bool on);
    void setAudio(const QString& path);  // empty removes the sound
    void setOutRoot(const QString& folder);
    void setCaptionPlace(CaptionPlace p);
    void setBackdrop(const Backdrop& b);
    void chooseBackdrop();  // a colour dialog for a solid backdrop of the user's own
    // Ignored for a path that is not an input.
    void setCaption(const QString& path, const Caption& c);

    // Typing in the name field: the name no longer follows the first input.
    void setName(const QString& typed);
    // A text field of the sidebar has the keyboard (the name or a caption): keys edit text there.
    void setEditingName(bool editing);
    void setSelected(const QString& path);
    void setPreviewShape(Shape s);

    // Files and folders dropped or chosen, in the order given.
    void add(const QStringList& paths);
    void openFiles();
    void chooseAudio();
    void chooseFolder();
    void remove(const Input& input);
    void removeSelected();
    void step(int delta);  // wraps at both ends
    void say(const QString& text);
    void touch();
    void followName();
    static QString defaultName(const QString& fileName);
    QString folderName() const;
    QString outputFolder() const;  // outRoot / folderName + "_trevalo"

    // The engine runs of a render for the current state: recordings first, then screenshots.
    QList<Job> plan() const;
    void render();
    void cancelRender();
    void showOutput() const;
    static void showFolder(const QString& folder);

    // Previews. The canvas calls restartPreview() when it appears and whenever previewKeyChanged()
    // fires; each call abandons the previous preview and its warm-up, terminating its engine.
    std::optional<PreviewKey> previewKey() const;
    void loadPreview(std::optional<PreviewKey> key);
    void restartPreview() { loadPreview(previewKey()); }
    // The cached image for `key`, or a new engine render of it that is then cached.
    void picture(const PreviewKey& key, Token token, std::function<void(Outcome, QImage)> done);
    const QList<PreviewKey>& cacheOrder() const { return m_cacheOrder; }
    bool isCached(const PreviewKey& key) const { return m_cache.contains(key); }
    void loadThumb(const Input& input);
    // The placeholder screenshot previewed while nothing is selected, written to the temporary
    // folder once per run. Empty until it has been made, and for good if that failed; a studio in
    // a GUI application starts making it and announces it with previewKeyChanged().
    static QString blank();
    static QImage drawBlank();

    static constexpr int cacheLimit = 16;
    static constexpr int debounceMs = 60;
    // A preview that differs from the last one only in its caption waits for a pause in the
    // typing instead.
    static constexpr int typingDebounceMs = 350;
    static constexpr int noticeMs = 4000;

signals:
    void inputsChanged();
    void selectionChanged();
    void settingsChanged();  // theme, shapes, spin, audio, outRoot, caption place, backdrop
    void captionsChanged();
    void nameChanged();
    void editingNameChanged();
    void noticeChanged();
    void previewShapeChanged();
    void previewKeyChanged();
    void previewChanged();  // preview, shown, previewLoading, previewError
    void phaseChanged();
    void thumbsChanged();  // thumbs and durations
    void attentionRequested();

private:
    struct RenderRun;

    void saveSetting(const char* key);
    void settingChanged(const char* key);
    void join(const QString& path, bool& changed);
    void setPhase(const Phase& p);
    void checkPreviewKey();
    void prepareBlank();
    void settlePreview(const PreviewKey& key, const Token& token, const Outcome& o, const QImage& img);
    void warmUp(QList<PreviewKey> rest, Token token);
    void startJob(const std::shared_ptr<RenderRun>& run);
    void jobEnded(const std::shared_ptr<RenderRun>& run, const Job& job, const std::optional<QString>& error);

    std::unique_ptr<QSettings> m_store;
    QList<Input> m_inputs;
    QString m_selected;
    QHash<QString, QImage> m_thumbs;
    QHash<QString, double> m_durations;
    QSet<QString> m_thumbsPending;
    Theme m_theme = Theme::dark;
    QSet<Shape> m_shapes;
    bool m_spin = false;
    QString m_audio;
    QString m_outRoot;
    CaptionPlace m_captionPlace = CaptionPlace::top;
    Backdrop m_backdrop;
    QHash<QString, Caption> m_captions;
    QString m_name;
    bool m_nameEdited = false;
    bool m_editingName = false;
    QString m_notice;
    QTimer m_noticeTimer;
    Shape m_previewShape = Shape::vertical;
    QImage m_preview;
    std::optional<PreviewKey> m_shown;
    bool m_previewLoading = false;
    QString m_previewError;
    Phase m_phase;
    QHash<PreviewKey, QImage> m_cache;
    QList<PreviewKey> m_cacheOrder;
    Token m_previewToken;
    Token m_renderToken;
    std::optional<PreviewKey> m_lastKey;
    std::optional<PreviewKey> m_loading;  // the key of the latest loadPreview call
};
