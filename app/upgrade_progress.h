#pragma once

#include "mme/firmware_upgrade.h"

#include <atomic>

namespace zrq406::app {

// The upgrading page's own share of the progress: the operation advances mme::Progress::basePercent from 0 to
// 50; this value is 0 while it runs, 1 after success and -1 after failure. One writer at a time (the upgrade
// worker), read by the page's display.
struct UpgradeProgress {
    std::atomic<double> fraction{0.0};
};

// The percentage shown: the base plus the whole part of fraction x 50 (a negative fraction adds nothing), within
// 0..100.
int shownPercent(int basePercent, double fraction);

// The step labels' positions: 0 softloader, 1 firmware, 2 configuration, 3 restart.
constexpr int kUpgradeSteps = 4;
// The step a percentage stands for (percent / 25; 4 once everything is done).
int stepOfPercent(int percent);
// The step in which an upgrade stopped: the checks before the first write belong to the softloader step.
int stepOfFailure(mme::UpgradeStep failedStep);

} // namespace zrq406::app
