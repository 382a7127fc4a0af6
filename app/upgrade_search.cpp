#include "app/upgrade_search.h"

#include "app/scan_cycle.h"
#include "app/session.h"
#include "mme/config_block.h"
#include "mme/key_derivation.h"
#include "platform/text_field.h"
#include "registry/firmware_version.h"
#include "registry/history_file.h"

#include <algorithm>
#include <cctype>
#include <memory>

namespace zrq406::app {

namespace {

bool isNumberField(std::string_view field) {
    return !field.empty() &&
           std::all_of(field.begin(), field.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// The device history, read once per search; empty when there is none.
class HistoryNames {
public:
    explicit HistoryNames(const std::filesystem::path& file) : m_table(std::make_unique<HistoryTable>()) {
        m_count = HistoryFile(file).load(*m_table).loaded;
    }
    std::string find(const std::string& mac) const {
        for (int i = 0; i < std::clamp(m_count, 0, HistoryTable::capacity); ++i)
            if (fieldText(m_table->records[i].mac) == mac)
                return fieldText(m_table->records[i].name);
        return {};
    }

private:
    std::unique_ptr<HistoryTable> m_table;
    int m_count = 0;
};

// The first block of the configuration block holds the product text and the network key.
constexpr std::size_t kIdentityLength = mme::cfg::kProduct + mme::cfg::kProductWidth;

ModelCheck checkOf(const mme::ConfigBlock& block, std::string_view firmware, std::string_view modelName) {
    return checkModel(mme::productText(block), firmware, mme::nmkOf(block), modelName);
}

bool readIdentity(Session& session, const MacAddress& device, ModelCheck& check, std::string_view firmware,
                  std::string_view modelName) {
    auto block = std::make_unique<mme::ConfigBlock>();
    if (!session.operations().ReadConfigBlockPrefix(device, *block, kIdentityLength))
        return false;
    check = checkOf(*block, firmware, modelName);
    return true;
}

} // namespace

ModelCheck checkModel(std::string_view product, std::string_view firmware, const mme::Key& nmk,
                      std::string_view modelName) {
    ModelCheck check;
    check.keyChanged = nmk != mme::kDefaultNmk;
    check.model = product.substr(0, modelName.size()) == modelName;
    if (!check.model)
        return check;
    const char* marker = nullptr;
    if (product.find("-CE-") != std::string_view::npos) {
        check.region = 1;
        marker = "-CE-";
    } else if (product.find("-NA-") != std::string_view::npos) {
        check.region = 2;
        marker = "-NA-";
    }
    // The build is read exactly as the image scan reads the images' builds, so that the two compare.
    if (marker != nullptr)
        if (const auto at = firmware.find(marker); at != std::string_view::npos)
            check.build = ParseBuildNumber(firmware, static_cast<int>(at + 4));
    return check;
}

std::vector<unsigned long> firmwareFields(std::string_view text) {
    std::vector<unsigned long> best;
    std::vector<unsigned long> run;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t dash = std::min(text.find('-', start), text.size());
        const std::string_view field = text.substr(start, dash - start);
        if (isNumberField(field)) {
            // Nine digits always fit; longer fields are compared by their leading digits.
            run.push_back(std::stoul(std::string(field.substr(0, 9))));
        } else {
            run.clear();
        }
        if (run.size() > best.size())
            best = run;
        start = dash + 1;
    }
    return best;
}

int compareFirmware(std::string_view deviceText, std::string_view target) {
    const auto device = firmwareFields(deviceText);
    const auto wanted = firmwareFields(target);
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        if (i >= device.size())
            return -1;
        if (device[i] != wanted[i])
            return device[i] < wanted[i] ? -1 : 1;
    }
    return 0;
}

bool needsUpgrade(const ModelCheck& check, int firmwareOrder, const FirmwareThresholds& thresholds) {
    if (!check.model || firmwareOrder > 0)
        return false;
    if (firmwareOrder < 0)
        return true;
    if (check.build < 0)
        return false;
    return (check.region == 1 && check.build < thresholds.highestCe) ||
           (check.region == 2 && check.build < thresholds.highestNa);
}

SearchOutcome searchUpgradeDevices(Session& session, UpgradeQueue& queue, const UpgradeSearchSettings& settings,
                                   const FirmwareThresholds& thresholds) {
    queue.clear();
    session.discoveryResult().clear();
    SearchOutcome outcome;
    if (!session.isOpen())
        return outcome;
    mme::LocalNetworkRecord& local = session.discoveryResult().local;
    for (int adapter = 0; adapter < session.adapters().count() && outcome.adapter < 0; ++adapter) {
        if (session.discovery().QueryDevice(adapter, nullptr, local))
            outcome.adapter = adapter;
        else if (!local.conflictingSources.empty())
            break;
    }
    if (outcome.adapter < 0) {
        outcome.conflict = localConflictText(session.texts(), session.discoveryResult());
        if (!outcome.conflict.empty())
            outcome.result = SearchResult::LocalConflict;
        return outcome;
    }

    // The local device and every station of its network: firmware texts asked of all stations at once, then the
    // identity of every device that answered, read together.
    std::vector<MacAddress> devices{local.mac};
    std::vector<std::string> firmware{fieldText(local.text)};
    std::vector<MacAddress> stations;
    const auto count = std::min<std::uint32_t>(local.stationCount, mme::kMaxStations);
    for (std::uint32_t i = 0; i < count; ++i) {
        const MacAddress mac = local.stations[i].mac;
        if (mac != local.mac && std::find(stations.begin(), stations.end(), mac) == stations.end())
            stations.push_back(mac);
    }
    const auto texts = session.discovery().QueryFirmwareTexts(stations, true);
    for (std::size_t i = 0; i < stations.size(); ++i) {
        if (texts[i]) {
            devices.push_back(stations[i]);
            firmware.push_back(*texts[i]);
        }
    }
    std::vector<mme::ConfigBlock> blocks(devices.size());
    const auto problems = session.operations().ReadConfigFieldsOf(devices, blocks, kIdentityLength, false);

    const HistoryNames names(session.registry().historyPath());
    for (std::size_t k = 0; k < devices.size(); ++k) {
        if (problems[k] != mme::BlockProblem::None)
            continue;
        const ModelCheck check = checkOf(blocks[k], firmware[k], settings.modelName);
        if (!needsUpgrade(check, compareFirmware(firmware[k], settings.targetFirmware), thresholds))
            continue;
        UpgradeDevice device;
        device.mac = devices[k].text();
        device.name = names.find(device.mac);
        if (device.name.empty())
            device.name = settings.defaultName;
        device.firmware = firmware[k];
        device.isLocal = k == 0;
        device.region = check.region;
        queue.append(std::move(device));
    }
    outcome.result = queue.empty() ? SearchResult::NothingToUpgrade : SearchResult::Found;
    return outcome;
}

DeviceCheck checkQueuedDevice(Session& session, int adapter, std::string_view mac, std::string_view modelName) {
    DeviceCheck check;
    if (!session.isOpen())
        return check;
    const MacAddress device = MacAddress::fromText(mac);
    auto answer = std::make_unique<mme::LocalNetworkRecord>();
    if (!session.discovery().QueryDevice(adapter, &device, *answer))
        return check;
    check.answered = readIdentity(session, device, check.model, fieldText(answer->text), modelName);
    return check;
}

} // namespace zrq406::app
