#include "link/timed_frame_queue.h"

#include <algorithm>
#include <cstring>

namespace zrq406::link {

TimedFrameQueue::TimedFrameQueue(std::size_t limit) : m_limit(limit) {}

void TimedFrameQueue::push(std::span<const std::uint8_t> frame, Clock::time_point arrives) {
    {
        std::lock_guard lock(m_mutex);
        if (m_closed || m_frames.size() >= m_limit)
            return;
        m_frames.emplace(arrives, std::vector<std::uint8_t>(frame.begin(), frame.end()));
    }
    m_changed.notify_all();
}

int TimedFrameQueue::waitLocked(std::unique_lock<std::mutex>& lock, Clock::time_point until) {
    for (;;) {
        if (m_closed)
            return -1;
        const Clock::time_point now = Clock::now();
        if (!m_frames.empty() && m_frames.begin()->first <= now)
            return 1;
        if (now >= until)
            return 0;
        // Woken early by a frame queued meanwhile, which may arrive sooner than the first one.
        const Clock::time_point wake = m_frames.empty() ? until : std::min(until, m_frames.begin()->first);
        m_changed.wait_until(lock, wake);
    }
}

int TimedFrameQueue::waitArrived(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return waitLocked(lock, Clock::now() + timeout);
}

int TimedFrameQueue::take(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    const int ready = waitLocked(lock, Clock::now() + timeout);
    if (ready <= 0)
        return ready;
    const auto first = m_frames.begin();
    const std::size_t copied = std::min(first->second.size(), buffer.size());
    std::memcpy(buffer.data(), first->second.data(), copied);
    m_frames.erase(first);
    return static_cast<int>(copied);
}

void TimedFrameQueue::close() {
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_frames.clear();
    }
    m_changed.notify_all();
}

} // namespace zrq406::link
