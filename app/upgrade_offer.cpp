#include "app/upgrade_offer.h"

#include "mme/upgrade_file.h"
#include "platform/paths.h"
#include "platform/text_field.h"
#include "registry/firmware_version.h"

#include <algorithm>
#include <cstdlib>

namespace zrq406::app {

namespace fs = std::filesystem;

std::vector<fs::path> firmwareImageFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->path().extension() == ".bin" && it->is_regular_file(typeError))
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<fs::path> firmwareImageFiles() {
    std::vector<fs::path> folders;
    if (const char* dir = std::getenv("ZRQ406_DATA_DIR"); dir != nullptr && *dir != '\0')
        folders.emplace_back(dir);
    folders.push_back(paths::executableDir());
    folders.push_back(paths::installedDataDir());
    for (const fs::path& folder : folders) {
        auto files = firmwareImageFiles(folder);
        if (!files.empty())
            return files;
    }
    return {};
}

FirmwareThresholds scanFirmwareImages(const std::vector<fs::path>& files) {
    FirmwareThresholds thresholds;
    for (const fs::path& file : files) {
        std::string version;
        if (mme::CheckUpgradeFile(file.string(), version) != 0)
            continue;
        if (const auto p = version.find("-CE-"); p != std::string::npos)
            thresholds.highestCe = std::max(thresholds.highestCe, ParseBuildNumber(version, static_cast<int>(p + 4)));
        else if (const auto q = version.find("-NA-"); q != std::string::npos)
            thresholds.highestNa = std::max(thresholds.highestNa, ParseBuildNumber(version, static_cast<int>(q + 4)));
    }
    return thresholds;
}

int upgradeOfferIndex(const ScanTable& scan, const FirmwareThresholds& thresholds,
                      const DeclinedUpgradeList& declined) {
    const int count = std::clamp(scan.count, 0, ScanTable::capacity);
    for (int i = 0; i < count; ++i) {
        const DeviceRecord& d = scan.entries[i];
        if (NeedsFirmwareUpgrade(fieldText(d.firmware), thresholds.highestCe, thresholds.highestNa) &&
            !declined.contains(fieldText(d.mac)))
            return i;
    }
    return -1;
}

void declineUpgrades(const ScanTable& scan, int from, const FirmwareThresholds& thresholds,
                     DeclinedUpgradeList& declined) {
    const int count = std::clamp(scan.count, 0, ScanTable::capacity);
    for (int i = std::max(from, 0); i < count; ++i) {
        const DeviceRecord& d = scan.entries[i];
        if (NeedsFirmwareUpgrade(fieldText(d.firmware), thresholds.highestCe, thresholds.highestNa))
            declined.add(fieldText(d.mac));
    }
}

} // namespace zrq406::app
