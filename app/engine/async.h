#pragma once
// Hands work to a pool thread and its result back to the GUI thread.

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>

#include <utility>

namespace Engine::detail {

// Calls `then` on the GUI thread, later, if `context` still exists then.
template <class Then> void post(QObject* context, Then then) {
    QPointer<QObject> ctx(context);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [ctx, then = std::move(then)]() mutable {
            if (ctx) then();
        },
        Qt::QueuedConnection);
}

// Runs `work()` on a pool thread, then `then(result)` on the GUI thread if `context` still exists.
// The hand-back goes through the application object, which outlives every context, so a context
// destroyed meanwhile is seen on the GUI thread rather than raced on the worker.
template <class Work, class Then>
void offThread(QObject* context, Work work, Then then, QThreadPool* pool = QThreadPool::globalInstance()) {
    QPointer<QObject> ctx(context);
    pool->start([ctx, work = std::move(work), then = std::move(then)]() mutable {
        auto result = work();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [ctx, then = std::move(then), result = std::move(result)]() mutable {
                if (ctx) then(std::move(result));
            },
            Qt::QueuedConnection);
    });
}

}  // namespace Engine::detail
