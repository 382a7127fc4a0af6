#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace zrq406::mme {

// The progress of a long write, written by the operation and read by whoever shows it.
class Progress {
public:
    // 0.0 to 1.0 over the bytes a write has to send.
    std::atomic<double> fraction{0.0};
    // The upgrade tool's whole-percent base, 0 to 50, advanced by its upgrade steps.
    std::atomic<int> basePercent{0};

    // While a device restarts: the moment its wait is given up (steady clock), so that whoever shows the progress
    // can count down; zero when nothing is awaited.
    std::atomic<std::int64_t> restartGiveUpNs{0};

    void reset() {
        fraction = 0.0;
        basePercent = 0;
        restartGiveUpNs = 0;
        m_spanWidth = 0;
    }
    // Whole seconds until a restarting device is given up, or -1 when none is awaited.
    int restartSecondsLeft() const {
        const std::int64_t end = restartGiveUpNs.load();
        if (end == 0)
            return -1;
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        const std::int64_t left = end - std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
        return left <= 0 ? 0 : static_cast<int>((left + 999'999'999) / 1'000'000'000);
    }
    // While set, every written fraction also moves basePercent from `start` to `start + width`.
    void mapToBase(int start, int width) {
        m_spanStart = start;
        m_spanWidth = width;
    }
    void written(double value) {
        fraction = value;
        if (m_spanWidth > 0)
            basePercent = m_spanStart + static_cast<int>(value * m_spanWidth);
    }

private:
    int m_spanStart = 0;
    int m_spanWidth = 0;
};

} // namespace zrq406::mme
