#pragma once

#include "app/upgrade_images.h"
#include "app/upgrade_progress.h"
#include "app/upgrade_queue.h"
#include "mme/firmware_upgrade.h"

namespace zrq406::app {

// What the upgrade tool keeps for its whole run, made once at start and handed to its pages: the devices still
// to upgrade, the upgrade files beside the program, the upgrading page's progress value, the adapter the search
// chose and the outcome of the latest upgrade.
struct UpgradeToolState {
    UpgradeQueue queue;
    UpgradeImageTable images;
    UpgradeProgress progress;
    int adapter = -1;
    mme::UpgradeOutcome lastOutcome;
};

} // namespace zrq406::app
