#pragma once

#include <chrono>

namespace zrq406 {

// Every fixed wait of the programs and of the simulated devices goes through one Pacing, whose scale
// (ZRQ406_TIME_SCALE, default 1) tests and demonstrations shrink.
class Pacing {
public:
    using Clock = std::chrono::steady_clock;

    explicit Pacing(double scale = 1.0);
    // The scale named by ZRQ406_TIME_SCALE; 1 when unset or not a positive number.
    static Pacing fromEnvironment();
    static double environmentScale();

    double scale() const { return m_scale; }
    // A described wait of `ms` milliseconds, scaled.
    Clock::duration scaled(double ms) const;
    // A deadline for an answer that the wait of `ms` milliseconds allows. A shrunk deadline never drops below
    // the smaller of the unscaled wait and 50 ms: answers are taken as soon as they arrive, so only waits that
    // end without one grow, and a loaded machine does not turn late answers into failures.
    Clock::time_point deadlineAfter(double ms) const;
    // Sleeps for a described wait, scaled.
    void sleep(double ms) const;

private:
    double m_scale;
};

} // namespace zrq406
