#pragma once
// A cancellation token shared by one asynchronous operation and whoever may cancel it.
// Lives on the GUI thread; cancel() is idempotent and emits cancelled() once.

#include <QObject>

#include <memory>

class CancelToken : public QObject {
    Q_OBJECT
public:
    bool isCancelled() const { return m_cancelled; }
    void cancel() {
        if (m_cancelled) return;
        m_cancelled = true;
        emit cancelled();
    }
signals:
    void cancelled();

private:
    bool m_cancelled = false;
};

using Token = std::shared_ptr<CancelToken>;
inline Token makeToken() { return std::make_shared<CancelToken>(); }

// How an engine operation ended. `message` is the one line the user sees: the engine's first
// error line, a launch or file error, or "cancelled".
struct Outcome {
    enum class Status { ok, cancelled, failed };
    Status status = Status::ok;
    QString message;

    static Outcome success() { return {}; }
    static Outcome cancel() { return {Status::cancelled, QStringLiteral("cancelled")}; }
    static Outcome failure(QString m) { return {Status::failed, std::move(m)}; }
    bool ok() const { return status == Status::ok; }
    bool cancelled() const { return status == Status::cancelled; }
};
