#include "app/upgrade_images.h"

#include "mme/upgrade_file.h"
#include "registry/firmware_version.h"

#include <algorithm>

namespace zrq406::app {

std::pair<std::string, std::string> splitModelName(std::string_view modelName) {
    const std::size_t blank = modelName.find(' ');
    if (blank == std::string_view::npos)
        return {std::string(modelName), std::string()};
    return {std::string(modelName.substr(0, blank)), std::string(modelName.substr(blank + 1))};
}

UpgradeImageTable UpgradeImageTable::build(const std::vector<std::filesystem::path>& files,
                                           std::string_view modelName) {
    UpgradeImageTable table;
    const auto [manufacturer, model] = splitModelName(modelName);
    for (const auto& file : files) {
        if (static_cast<int>(table.m_images.size()) >= capacity)
            break;
        std::string error;
        const auto upgrade = mme::readUpgradeFile(file.string(), manufacturer, model, error);
        if (!upgrade)
            continue;
        const std::string& version = upgrade->version;
        if (const auto ce = version.find("-CE-"); ce != std::string::npos) {
            table.m_images.push_back({file, 1});
            table.m_thresholds.highestCe =
                std::max(table.m_thresholds.highestCe, ParseBuildNumber(version, static_cast<int>(ce + 4)));
        } else if (const auto na = version.find("-NA-"); na != std::string::npos) {
            table.m_images.push_back({file, 2});
            table.m_thresholds.highestNa =
                std::max(table.m_thresholds.highestNa, ParseBuildNumber(version, static_cast<int>(na + 4)));
        }
    }
    return table;
}

std::filesystem::path UpgradeImageTable::imageFor(int region, const std::filesystem::path& fallback) const {
    for (const UpgradeImage& image : m_images)
        if (image.region == region)
            return image.path;
    return fallback;
}

} // namespace zrq406::app
