#include "studio.h"
#include "engine/engine.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPointer>
#include <QThreadPool>

#include <algorithm>
#include <cmath>

std::optional<PreviewKey> Studio::previewKey() const {
    const QString path = m_selected.isEmpty() ? blank() : m_selected;
    if (path.isEmpty()) return std::nullopt;
    // The placeholder has no caption; a place without a caption changes nothing in the picture.
    const Caption caption = m_selected.isEmpty() ? Caption{} : this->caption(m_selected).shown();
    const CaptionPlace place = caption.hasTitle() ? m_captionPlace : CaptionPlace::top;
    return PreviewKey{path, m_theme, m_previewShape, caption, place, m_backdrop};
}

namespace {

bool onlyCaptionDiffers(const std::optional<PreviewKey>& a, const PreviewKey& b) {
    if (!a || a->caption == b.caption) return false;
    PreviewKey same = *a;
    same.caption = b.caption;
    return same == b;
}

}  // namespace

void Studio::checkPreviewKey() {
    const auto key = previewKey();
    if (key == m_lastKey) return;
    m_lastKey = key;
    emit previewKeyChanged();
}

void Studio::loadPreview(std::optional<PreviewKey> key) {
    if (m_previewToken) m_previewToken->cancel();
    const Token token = m_previewToken = makeToken();
    const bool typing = key && onlyCaptionDiffers(m_loading, *key);
    m_loading = key;
    if (!key) {
        const bool changed = !m_preview.isNull() || m_shown || m_previewLoading;
        m_preview = QImage();
        m_shown.reset();
        m_previewLoading = false;
        if (changed) emit previewChanged();
        return;
    }
    auto settle = [this, key = *key, token](Outcome o, QImage img) { settlePreview(key, token, o, img); };
    if (m_cache.contains(*key)) return picture(*key, token, settle);
    // Rapid changes of selection, theme or shape start no engine for the values passed over, nor
    // does a caption being typed for each of its letters.
    QTimer::singleShot(typing ? typingDebounceMs : debounceMs, this, [this, key = *key, token, settle] {
        if (token->isCancelled()) return;
        m_previewLoading = true;
        m_previewError.clear();
        emit previewChanged();
        picture(key, token, settle);
    });
}

void Studio::settlePreview(const PreviewKey& key, const Token& token, const Outcome& o, const QImage& img) {
    if (token->isCancelled()) return;
    if (o.ok()) {
        m_preview = img;
        m_shown = key;
        m_previewError.clear();
    } else {
        // The last good picture stays on screen under the message.
        m_previewError = o.message;
    }
    m_previewLoading = false;
    emit previewChanged();

    // Warm the cache with what the user is likely to look at next, one engine at a time.
    PreviewKey other = key;
    other.theme = key.theme == Theme::dark ? Theme::light : Theme::dark;
    QList<PreviewKey> next{other};
    for (Shape s : orderedShapes())
        if (s != key.shape) {
            PreviewKey k = key;
            k.shape = s;
            next << k;
        }
    warmUp(next, token);
}

void Studio::warmUp(QList<PreviewKey> rest, Token token) {
    while (!rest.isEmpty() && m_cache.contains(rest.first())) rest.removeFirst();
    if (rest.isEmpty() || token->isCancelled()) return;
    const PreviewKey key = rest.takeFirst();
    picture(key, token, [this, rest, token](Outcome, QImage) { warmUp(rest, token); });
}

void Studio::picture(const PreviewKey& key, Token token, std::function<void(Outcome, QImage)> done) {
    if (auto it = m_cache.constFind(key); it != m_cache.constEnd()) {
        QMetaObject::invokeMethod(
            this, [done, img = *it] { done(Outcome::success(), img); }, Qt::QueuedConnection);
        return;
    }
    Engine::preview(key, token, this, [this, key, done](Outcome o, QImage img) {
        if (o.ok()) {
            // Oldest first by insertion; a hit does not refresh an entry. Two renders of one key
            // keep the later image under the first one's age.
            if (!m_cache.contains(key)) m_cacheOrder << key;
            m_cache.insert(key, img);
            while (m_cacheOrder.size() > cacheLimit) m_cache.remove(m_cacheOrder.takeFirst());
        }
        done(o, img);
    });
}

void Studio::loadThumb(const Input& input) {
    const QString path = input.path;
    if (m_thumbs.contains(path) || m_thumbsPending.contains(path)) return;
    m_thumbsPending.insert(path);
    auto stillHere = [this, path] {
        return std::any_of(m_inputs.begin(), m_inputs.end(), [&](const Input& i) { return i.path == path; });
    };
    Engine::thumbnail(path, input.kind, this, [this, path, kind = input.kind, stillHere](std::optional<QImage> img) {
        auto store = [this, path, stillHere](auto value, auto& map) {
            if (value && stillHere()) {
                map.insert(path, *value);
                emit thumbsChanged();
            }
        };
        store(img, m_thumbs);
        if (kind != Kind::video) return void(m_thumbsPending.remove(path));
        Engine::duration(path, this, [this, path, store](std::optional<double> seconds) {
            m_thumbsPending.remove(path);
            store(seconds, m_durations);
        });
    });
}

QImage Studio::drawBlank() {
    constexpr int w = 1206, h = 2622;
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    if (img.isNull()) return {};
    const int grey = int(std::lround(0.06 * 255));
    img.fill(QColor(grey, grey, grey));

    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(300);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, -8);
    const QString text = QStringLiteral("//");
    const QFontMetricsF fm(font);
    const double tw = fm.horizontalAdvance(text), th = fm.ascent() + fm.descent();
    // The text box's centre sits 1389.66 pixels above the bottom edge (53 % of the height).
    const double top = (h - 1389.66) - th / 2;

    QPainter p(&img);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setFont(font);
    const int white = int(std::lround(0.93 * 255));
    p.setPen(QColor(white, white, white, int(std::lround(0.55 * 255))));
    p.drawText(QPointF((w - tw) / 2, top + fm.ascent()), text);
    p.end();
    return img;
}

namespace {

// The placeholder is made once per run, off the GUI thread (writing the PNG takes a while);
// studios waiting for it hear about it through their preview key.
struct BlankState {
    enum class Stage { notStarted, making, done } stage = Stage::notStarted;
    QString path;
    QList<QPointer<Studio>> waiting;
};
BlankState& blankState() {
    static BlankState state;
    return state;
}

}  // namespace

QString Studio::blank() {
    const BlankState& b = blankState();
    return b.stage == BlankState::Stage::done ? b.path : QString();
}

void Studio::prepareBlank() {
    BlankState& b = blankState();
    if (b.stage == BlankState::Stage::done) return;
    b.waiting << QPointer<Studio>(this);
    if (b.stage == BlankState::Stage::making) return;
    b.stage = BlankState::Stage::making;
    QThreadPool::globalInstance()->start([] {
        const QImage img = drawBlank();
        const QString file = QDir::temp().filePath(QStringLiteral("trevalo-blank.png"));
        QFile::remove(file);
        const QString path = !img.isNull() && img.save(file, "PNG") ? file : QString();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [path] {
                BlankState& b = blankState();
                b.path = path;
                b.stage = BlankState::Stage::done;
                for (const QPointer<Studio>& s : std::exchange(b.waiting, {}))
                    if (s) s->checkPreviewKey();
            },
            Qt::QueuedConnection);
    });
}
