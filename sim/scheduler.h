#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace zrq406::sim {

// One thread that runs tasks at their time, in time order and, for equal times, in the order posted. The
// simulated network saves its state from here, so no request waits for the file to be written.
class Scheduler {
public:
    using Clock = std::chrono::steady_clock;

    Scheduler();
    ~Scheduler();
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    // Runs `task` on the scheduler thread at `at` (at once when that has passed).
    void post(Clock::time_point at, std::function<void()> task);
    // Ends the thread; tasks not yet run are dropped. Called by the destructor.
    void stop();

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::pair<Clock::time_point, std::uint64_t>, std::function<void()>> m_tasks;
    std::uint64_t m_sequence = 0;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace zrq406::sim
