#pragma once

#include "app/declined_upgrade_list.h"
#include "registry/device_record.h"

#include <filesystem>
#include <vector>

namespace zrq406::app {

// The highest build numbers of the upgrade files beside the program, per region.
struct FirmwareThresholds {
    int highestCe = 0;
    int highestNa = 0;
};

// The "*.bin" files of the first data folder that holds any ($ZRQ406_DATA_DIR, the executable's folder, the
// installed data folder), sorted by name.
std::vector<std::filesystem::path> firmwareImageFiles();
// The "*.bin" files of one folder, sorted by name.
std::vector<std::filesystem::path> firmwareImageFiles(const std::filesystem::path& folder);

// The configuration utility's image scan: every file that passes the upgrade file check raises the CE or NA
// threshold to the build number of its version text ("-CE-" or "-NA-" marker); others are skipped.
FirmwareThresholds scanFirmwareImages(const std::vector<std::filesystem::path>& files);

// The ScanTable entry to offer the upgrade for: the first that needs newer firmware and was not declined in this
// run; -1 when none.
int upgradeOfferIndex(const ScanTable& scan, const FirmwareThresholds& thresholds, const DeclinedUpgradeList& declined);
// The offer for entry `from` was declined: that entry and every later one that needs newer firmware are not
// offered again in this run.
void declineUpgrades(const ScanTable& scan, int from, const FirmwareThresholds& thresholds,
                     DeclinedUpgradeList& declined);

} // namespace zrq406::app
