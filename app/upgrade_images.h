#pragma once

#include "app/upgrade_offer.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zrq406::app {

// One upgrade file of the upgrade tool and the region it serves (1 = "-CE-", 2 = "-NA-").
struct UpgradeImage {
    std::filesystem::path path;
    int region = 0;
};

// The upgrade tool's table of upgrade files beside the program, built once at start: up to 10 files that pass
// the upgrade file check for the model, with the highest configuration build per region, which the search
// compares the devices' builds with.
class UpgradeImageTable {
public:
    static constexpr int capacity = 10;

    // Checks each file in order for `modelName` ("MANUFACTURER MODEL"); files without a region marker are
    // skipped, and once the table is full the rest are ignored.
    static UpgradeImageTable build(const std::vector<std::filesystem::path>& files, std::string_view modelName);

    const std::vector<UpgradeImage>& images() const { return m_images; }
    const FirmwareThresholds& thresholds() const { return m_thresholds; }
    // The first image of the region, else `fallback`.
    std::filesystem::path imageFor(int region, const std::filesystem::path& fallback) const;

private:
    std::vector<UpgradeImage> m_images;
    FirmwareThresholds m_thresholds;
};

// The manufacturer and model words of a model name: split at its first blank ("TALVERN ZRQ406").
std::pair<std::string, std::string> splitModelName(std::string_view modelName);

} // namespace zrq406::app
