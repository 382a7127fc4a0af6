#include "app/upgrade_progress.h"

#include <gtest/gtest.h>

using namespace zrq406;
using mme::UpgradeStep;

// The bar follows the work: the firmware write carries most of it, and no step is left for the end to fill.
TEST(UpgradeProgress, TheFirmwareWriteCarriesTheBarAndStepsNeverGoBack) {
    app::UpgradeProgress progress;
    for (const UpgradeStep step : {UpgradeStep::CheckFile, UpgradeStep::ReadConfig, UpgradeStep::Backup})
        progress.startStep(app::stepOfOperation(step));
    EXPECT_EQ(progress.step, 0);
    progress.startStep(app::stepOfOperation(UpgradeStep::WriteFirmware));
    EXPECT_LT(app::weightedPercent(progress.step, 0.0), 10);
    EXPECT_GT(app::weightedPercent(progress.step, 1.0), 80);
    EXPECT_LT(app::weightedPercent(progress.step, 0.5), app::weightedPercent(progress.step, 0.6));
    // The configuration block written again after the restart leaves the restart step marked.
    for (const UpgradeStep step : {UpgradeStep::WriteConfig, UpgradeStep::Restart, UpgradeStep::WriteConfig})
        progress.startStep(app::stepOfOperation(step));
    EXPECT_EQ(progress.step, 3);
    EXPECT_LT(app::weightedPercent(progress.step, 0.0), 100);
    EXPECT_EQ(app::weightedPercent(app::kUpgradeSteps, 0.0), 100);
}
