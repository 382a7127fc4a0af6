#include "sim/scheduler.h"

namespace zrq406::sim {

Scheduler::Scheduler() : m_thread([this] { run(); }) {}

Scheduler::~Scheduler() {
    stop();
}

void Scheduler::post(Clock::time_point at, std::function<void()> task) {
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_tasks.emplace(std::make_pair(at, m_sequence++), std::move(task));
    }
    m_changed.notify_one();
}

void Scheduler::stop() {
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping && !m_thread.joinable())
            return;
        m_stopping = true;
        m_tasks.clear();
    }
    m_changed.notify_one();
    if (!m_thread.joinable())
        return;
    if (m_thread.get_id() == std::this_thread::get_id())
        m_thread.detach(); // stopped by one of its own tasks: the loop ends when that task returns
    else
        m_thread.join();
}

void Scheduler::run() {
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        if (m_tasks.empty()) {
            m_changed.wait(lock);
            continue;
        }
        const auto first = m_tasks.begin();
        // A copy: stop() may clear the tasks while this wait sleeps, and the wait reads its time point again.
        const Clock::time_point due = first->first.first;
        if (Clock::now() < due) {
            m_changed.wait_until(lock, due);
            continue;
        }
        std::function<void()> task = std::move(first->second);
        m_tasks.erase(first);
        lock.unlock();
        task();
        lock.lock();
    }
}

} // namespace zrq406::sim
