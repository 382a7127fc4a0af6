#pragma once

#include <atomic>

namespace zrq406::mme {

// The progress of a long write, written by the operation and read by whoever shows it.
class Progress {
public:
    // 0.0 to 1.0 over the bytes a write has to send.
    std::atomic<double> fraction{0.0};
    // The upgrade tool's whole-percent base, 0 to 50, advanced by its upgrade steps.
    std::atomic<int> basePercent{0};

    void reset() {
        fraction = 0.0;
        basePercent = 0;
        m_spanWidth = 0;
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
