#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace zrq406 {

// Runs a window's device operations on worker threads and hands their results back on the window thread. A result
// is never delivered to a window that is gone. Before the runner (or its window) goes away, waitForIdle() lets
// every worker end, serving the window thread's events meanwhile, so that a worker blocked in a call into the
// window still finishes.
class WorkerRunner {
public:
    // Starts a thread running the given body; throws (std::system_error, as std::thread does) when it cannot.
    using ThreadStart = std::function<std::thread(std::function<void()>)>;

    explicit WorkerRunner(QObject* context);
    ~WorkerRunner();
    WorkerRunner(const WorkerRunner&) = delete;
    WorkerRunner& operator=(const WorkerRunner&) = delete;

    // Starts `work` on a new thread; `done` then runs on the context's thread (not when `work` threw). When no
    // thread can be started, nothing runs and nothing counts as running: `notStarted` is told why, on the
    // context's thread, as a worker's result would be.
    void start(std::function<void()> work, std::function<void()> done = {},
               std::function<void(const std::string&)> notStarted = {});
    // The same with a result handed from the worker to `done`.
    template <class T>
    void start(std::function<T()> work, std::function<void(T)> done,
               std::function<void(const std::string&)> notStarted = {}) {
        auto result = std::make_shared<T>();
        start([work = std::move(work), result] { *result = work(); },
              [done = std::move(done), result] { done(std::move(*result)); }, std::move(notStarted));
    }
    // How threads are started (std::thread unless a test says otherwise).
    void setThreadStart(ThreadStart threadStart) { m_threadStart = std::move(threadStart); }

    // True while a worker started here runs.
    bool busy() const { return m_running.load() > 0; }
    // Serves the window thread's events until every worker has ended.
    void waitForIdle();

private:
    void reap();

    QPointer<QObject> m_context;
    ThreadStart m_threadStart;
    std::atomic<int> m_running{0};
    std::mutex m_mutex;
    std::list<std::thread> m_threads;
    std::list<std::thread::id> m_finished;
};

} // namespace zrq406
