#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <functional>
#include <optional>
#include <type_traits>

namespace zrq406 {

// Runs `fn` on the thread of `context` and waits for it: at once when the caller is already there, else as a
// blocking queued call (the way a worker sends a message to a window). Returns nothing when the context went away
// before the call could run.
template <class T> std::optional<T> callOnThread(QObject* context, const std::function<T()>& fn) {
    if (context == nullptr)
        return std::nullopt;
    if (QThread::currentThread() == context->thread())
        return fn();
    std::optional<T> result;
    QMetaObject::invokeMethod(
        context, [&] { result = fn(); }, Qt::BlockingQueuedConnection);
    return result;
}

inline bool callOnThread(QObject* context, const std::function<void()>& fn) {
    return callOnThread<bool>(context,
                              [&] {
                                  fn();
                                  return true;
                              })
        .has_value();
}

// The same on the application's window thread.
template <class T> T onWindowThread(const std::function<T()>& fn) {
    auto result = callOnThread<T>(QCoreApplication::instance(), fn);
    return result ? *result : T{};
}

} // namespace zrq406
