#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <vector>

namespace zrq406::link {

// Frames on their way to one port of a simulated segment, each with the moment it reaches the port. They are
// handed out in the order of those moments (frames of the same moment in the order queued), none before its
// moment. A frame is thus on time whatever thread takes it out, and whenever that thread gets to run.
class TimedFrameQueue {
public:
    using Clock = std::chrono::steady_clock;

    explicit TimedFrameQueue(std::size_t limit);

    // Queues `frame` to be taken from `arrives` on; dropped when `limit` frames wait already or once closed.
    void push(std::span<const std::uint8_t> frame, Clock::time_point arrives);
    // Waits up to `timeout` until a frame has arrived: 1 then, 0 when none has by then, -1 once closed.
    int waitArrived(std::chrono::milliseconds timeout);
    // Takes the first frame that has arrived into `buffer` (cut to its size), waiting up to `timeout`. Returns the
    // number of bytes copied, 0 when none arrived in time, -1 once closed.
    int take(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout);
    // Drops every frame; every wait, now and later, returns -1.
    void close();

private:
    int waitLocked(std::unique_lock<std::mutex>& lock, Clock::time_point until);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    // A multimap keeps frames of equal moments in the order they were queued.
    std::multimap<Clock::time_point, std::vector<std::uint8_t>> m_frames;
    std::size_t m_limit;
    bool m_closed = false;
};

} // namespace zrq406::link
