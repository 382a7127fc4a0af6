#include "platform/pacing.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

namespace zrq406 {

Pacing::Pacing(double scale) : m_scale(scale > 0 ? scale : 1.0) {}

double Pacing::environmentScale() {
    const char* text = std::getenv("ZRQ406_TIME_SCALE");
    if (text == nullptr || *text == '\0')
        return 1.0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || !(value > 0) || value > 1000)
        return 1.0;
    return value;
}

Pacing Pacing::fromEnvironment() {
    return Pacing(environmentScale());
}

Pacing::Clock::duration Pacing::scaled(double ms) const {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms * m_scale));
}

Pacing::Clock::time_point Pacing::deadlineAfter(double ms) const {
    constexpr double kDeadlineFloorMs = 50;
    const auto floor = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(std::min(ms, kDeadlineFloorMs)));
    return Clock::now() + std::max(scaled(ms), floor);
}

void Pacing::sleep(double ms) const {
    if (ms > 0)
        std::this_thread::sleep_for(scaled(ms));
}

} // namespace zrq406
