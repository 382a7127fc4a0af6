#include "gui/worker_runner.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>

namespace zrq406 {

WorkerRunner::WorkerRunner(QObject* context)
    : m_context(context), m_threadStart([](std::function<void()> body) { return std::thread(std::move(body)); }) {}

WorkerRunner::~WorkerRunner() {
    waitForIdle();
}

void WorkerRunner::start(std::function<void()> work, std::function<void()> done,
                         std::function<void(const std::string&)> notStarted) {
    reap();
    QPointer<QObject> context = m_context;
    // Counted before the thread exists, so that a worker that ends at once is never seen running after its end.
    ++m_running;
    std::thread thread;
    try {
        thread = m_threadStart([this, context, work = std::move(work), done = std::move(done)]() mutable {
            // A worker that fails unexpectedly must not take the program with it (device operations hand their
            // failures to the window themselves).
            bool finished = false;
            try {
                work();
                finished = true;
            } catch (const std::exception& e) {
                std::fprintf(stderr, "zrq406: a device operation failed: %s\n", e.what());
            } catch (...) {
                std::fprintf(stderr, "zrq406: a device operation failed\n");
            }
            if (finished && done && context)
                // A queued call to a context that is destroyed before it runs is dropped by Qt.
                QMetaObject::invokeMethod(context.data(), std::move(done), Qt::QueuedConnection);
            {
                std::lock_guard finishedLock(m_mutex);
                m_finished.push_back(std::this_thread::get_id());
            }
            --m_running;
        });
    } catch (const std::exception& e) {
        // No thread (the system is out of threads or memory): nothing runs, so nothing may count as running, or
        // the window would stay busy and could never close.
        --m_running;
        const std::string what = e.what();
        std::fprintf(stderr, "zrq406: a device operation could not start: %s\n", what.c_str());
        if (notStarted && context)
            QMetaObject::invokeMethod(
                context.data(), [notStarted = std::move(notStarted), what] { notStarted(what); }, Qt::QueuedConnection);
        return;
    }
    std::lock_guard lock(m_mutex);
    m_threads.push_back(std::move(thread));
}

void WorkerRunner::reap() {
    std::list<std::thread> ended;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_threads.begin(); it != m_threads.end();) {
            const auto finished = std::find(m_finished.begin(), m_finished.end(), it->get_id());
            if (finished != m_finished.end()) {
                m_finished.erase(finished);
                ended.splice(ended.end(), m_threads, it++);
            } else {
                ++it;
            }
        }
    }
    for (std::thread& thread : ended)
        thread.join();
}

void WorkerRunner::waitForIdle() {
    const bool windowThread =
        QCoreApplication::instance() != nullptr && QThread::currentThread() == QCoreApplication::instance()->thread();
    while (busy()) {
        if (windowThread)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::list<std::thread> all;
    {
        std::lock_guard lock(m_mutex);
        all.swap(m_threads);
        m_finished.clear();
    }
    for (std::thread& thread : all)
        thread.join();
    // Results posted by the last workers are delivered before the caller goes on.
    if (windowThread)
        QCoreApplication::sendPostedEvents();
}

} // namespace zrq406
