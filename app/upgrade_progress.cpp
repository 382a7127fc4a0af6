#include "app/upgrade_progress.h"

#include <algorithm>

namespace zrq406::app {

int shownPercent(int basePercent, double fraction) {
    // A failed upgrade (-1) leaves the percentage where the operation stopped.
    return std::clamp(basePercent + static_cast<int>(std::max(fraction, 0.0) * 50), 0, 100);
}

int stepOfPercent(int percent) {
    return std::clamp(percent, 0, 100) / 25;
}

int stepOfFailure(mme::UpgradeStep failedStep) {
    switch (failedStep) {
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

} // namespace zrq406::app
