#pragma once

#include "mme/firmware_upgrade.h"

#include <array>
#include <atomic>

namespace zrq406::app {

// The step labels' positions: 0 softloader, 1 firmware, 2 configuration, 3 restart.
constexpr int kUpgradeSteps = 4;
// What each step weighs in the percentage, in proportion to its work: writing the firmware image is most of it,
// the restart wait a little, checking the device and writing the configuration block hardly anything.
inline constexpr std::array<int, kUpgradeSteps> kUpgradeStepWeights = {5, 80, 5, 10};

// The upgrading page's progress: the step under way (kUpgradeSteps once everything is done) and whether the
// upgrade failed. Written by the upgrade worker, read by the page's display; the share of the firmware write
// done is the operation's own progress fraction.
struct UpgradeProgress {
    std::atomic<int> step{0};
    std::atomic<bool> failed{false};

    void reset() {
        step = 0;
        failed = false;
    }
    // A step has started; the steps never go back (a second configuration write after the restart stays in it).
    void startStep(int started) {
        int current = step.load();
        while (started > current && !step.compare_exchange_weak(current, started)) {
        }
    }
};

// The step of the page that an operation step belongs to: the checks before the first write belong to the
// softloader step.
int stepOfOperation(mme::UpgradeStep operationStep);
// The percentage shown: the weights of the steps done plus `within` (0..1) of the step under way, within 0..100.
int weightedPercent(int step, double within);

} // namespace zrq406::app
