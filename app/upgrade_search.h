#pragma once

#include "app/upgrade_offer.h"
#include "app/upgrade_queue.h"
#include "mme/frame_builder.h"

#include <string>
#include <string_view>
#include <vector>

namespace zrq406::app {

class Session;

// What the upgrade tool's language file says about the devices it upgrades, read on the window thread before a
// search starts.
struct UpgradeSearchSettings {
    std::string targetFirmware = "3-3-3348-00-2764"; // Utility/FirmwareVersion
    std::string modelName = "TALVERN ZRQ406";        // Utility/ModelName
    std::string defaultName;                         // DeviceList/Devices/ColumnName/value
};

// The model check of one device, from the product text of its configuration block, its firmware text and its
// network key.
struct ModelCheck {
    bool model = false;      // the product text begins with the model name
    int region = 0;          // 1 for "-CE-", 2 for "-NA-" in the product text, else 0
    int build = -1;          // the configuration build after that marker in the firmware text; -1 when absent
    bool keyChanged = false; // the network key is not the HomePlug AV default key
};
ModelCheck checkModel(std::string_view product, std::string_view firmware, const mme::Key& nmk,
                      std::string_view modelName);

// The firmware part of a version text: the longest run of dash-separated number fields, so that the platform
// word in front ("XXXXXXX-MAC-") and the region and configuration build behind it do not count.
std::vector<unsigned long> firmwareFields(std::string_view text);
// Compares a device's firmware part with the target's, field by field over the target's fields: < 0 when the
// device runs older firmware (a missing field counts as older), 0 when the same, > 0 when newer.
int compareFirmware(std::string_view deviceText, std::string_view target);
// The queue decision: a device of this model with older firmware, or with the target firmware and a
// configuration build below the newest image of its region.
bool needsUpgrade(const ModelCheck& check, int firmwareOrder, const FirmwareThresholds& thresholds);

enum class SearchResult {
    Found,            // at least one device is queued
    NoLocalDevice,    // no adapter reaches a device
    NothingToUpgrade, // devices answered, none needs the upgrade
    LocalConflict     // more than one device answers as the attached one: nothing is queued
};
struct SearchOutcome {
    SearchResult result = SearchResult::NoLocalDevice;
    int adapter = -1; // the adapter whose local device answered
    // The message naming the devices that answered together as the attached one (LocalConflict).
    std::string conflict;
};

// The upgrade tool's search: empties the queue, takes the first adapter whose local device answers, and queues
// the local device and each remote station of its network that needs the upgrade, with its name from the device
// history. A station already queued is not asked again. More than one device answering as the attached one stops
// the search with nothing queued.
SearchOutcome searchUpgradeDevices(Session& session, UpgradeQueue& queue, const UpgradeSearchSettings& settings,
                                   const FirmwareThresholds& thresholds);

// Asks a queued device once more before its upgrade starts, on the chosen adapter.
struct DeviceCheck {
    bool answered = false;
    ModelCheck model;
};
DeviceCheck checkQueuedDevice(Session& session, int adapter, std::string_view mac, std::string_view modelName);

} // namespace zrq406::app
