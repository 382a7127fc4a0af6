#include "app/upgrade_progress.h"

#include <algorithm>

namespace zrq406::app {

int stepOfOperation(mme::UpgradeStep operationStep) {
    switch (operationStep) {
    case mme::UpgradeStep::WriteFirmware:
        return 1;
    case mme::UpgradeStep::WriteConfig:
        return 2;
    case mme::UpgradeStep::Restart:
        return 3;
    default:
        return 0;
    }
}

int weightedPercent(int step, double within) {
    const int done = std::clamp(step, 0, kUpgradeSteps);
    double percent = 0;
    for (int i = 0; i < done; ++i)
        percent += kUpgradeStepWeights[static_cast<std::size_t>(i)];
    if (done < kUpgradeSteps)
        percent += kUpgradeStepWeights[static_cast<std::size_t>(done)] * std::clamp(within, 0.0, 1.0);
    return std::clamp(static_cast<int>(percent), 0, 100);
}

} // namespace zrq406::app
