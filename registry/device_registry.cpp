#include "registry/device_registry.h"

#include "mme/config_block.h"
#include "platform/text_field.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace zrq406 {

namespace {

const std::string& cell(const std::vector<std::string>& row, std::size_t column) {
    static const std::string empty;
    return column < row.size() ? row[column] : empty;
}

bool validRow(int index, const ListRows& rows) {
    return index >= 0 && static_cast<std::size_t>(index) < rows.size();
}

// The candidate default name: the base text, a blank, and the number with at least two digits.
// The base text followed by the number; the base is cut so that the number always fits the name field.
std::string defaultName(const std::string& base, int counter) {
    const std::string suffix = (counter < 10 ? " 0" : " ") + std::to_string(counter);
    const std::size_t room = sizeof(DeviceRecord::name) - 1;
    return std::string(truncateUtf8(base, room > suffix.size() ? room - suffix.size() : 0)) + suffix;
}

std::string qualityFor(int phyRate, const ValueTexts& values) {
    if (phyRate > 80)
        return values.qualityGood;
    if (phyRate >= 50)
        return values.qualityFair;
    return values.qualityPoor;
}

// The product text of a device of this line contains this.
constexpr std::string_view kOwnModel = "TALVERN ZRQ406";

void fillFromBlock(DeviceRecord& entry, const std::optional<std::span<const std::uint8_t>>& block,
                   const ValueTexts& values) {
    // A block that could not be read is taken as a device with its LEDs on (the factory state) and of unknown
    // model, as an empty block would read.
    const bool off = block.has_value() && mme::ledsOff(*block);
    copyToField(entry.led, off ? values.ledOff : values.ledOn);
    entry.isOwnModel = block.has_value() && mme::productText(*block).find(kOwnModel) != std::string::npos ? 1 : 0;
}

} // namespace

DeviceRegistry::DeviceRegistry(std::filesystem::path historyPath) : m_file(std::move(historyPath)) {}

void DeviceRegistry::clearScanTable() {
    m_scan.clear();
    m_plainNameCounter = 0;
}

void DeviceRegistry::clearHistoryTable() {
    m_history.clear();
}

bool DeviceRegistry::HistoryFileHasData() const {
    return m_file.hasData();
}

HistoryLoadResult DeviceRegistry::LoadHistory() {
    return m_file.load(m_history);
}

FileWriteResult DeviceRegistry::SaveHistory(int count) {
    return m_file.save(m_history, count);
}

int DeviceRegistry::FindHistoryRecord(DeviceRecord& entry, const std::string& macText) {
    if (!HistoryFileHasData()) {
        ++m_plainNameCounter;
        copyToField(entry.name, defaultName(m_values.deviceName, m_plainNameCounter));
        return 0;
    }
    m_history.inUseCount = std::clamp(std::max(m_history.inUseCount, m_history.fileCount), 0, HistoryTable::capacity);
    const int inUse = m_history.inUseCount;
    for (int i = 0; i < inUse; ++i) {
        const HistoryRecord& record = m_history.records[i];
        if (fieldText(record.mac) == macText) {
            copyToField(entry.name, fieldText(record.name));
            copyToField(entry.password, fieldText(record.password));
            return i + 1;
        }
    }
    m_historyNameCounter = std::max(m_historyNameCounter, inUse + 1);
    std::string candidate;
    bool taken = true;
    // Each pass either ends or moves the counter past a name in use; at most inUse passes can find one taken.
    for (int pass = 0; taken && pass <= inUse; ++pass) {
        candidate = defaultName(m_values.deviceName, m_historyNameCounter);
        // Compare as the name field would hold the candidate.
        const std::string_view stored = truncateUtf8(candidate, sizeof entry.name - 1);
        taken = false;
        for (int i = 0; i < inUse; ++i) {
            if (fieldText(m_history.records[i].name) == stored) {
                ++m_historyNameCounter;
                taken = true;
            }
        }
    }
    copyToField(entry.name, candidate);
    return 0;
}

MergeResult DeviceRegistry::MergeIntoHistory(const DeviceRecord& entry, int foundIndex,
                                             const std::string& lastScanTime) {
    if (foundIndex < 0 || foundIndex > HistoryTable::capacity)
        return MergeResult::InvalidIndex;
    HistoryRecord* record = nullptr;
    if (foundIndex >= 1) {
        record = &m_history.records[foundIndex - 1];
        // Everything but the password, which the history keeps.
        std::memset(record, 0, offsetof(HistoryRecord, password));
    } else {
        if (m_history.inUseCount < 0 || m_history.inUseCount >= HistoryTable::capacity)
            return MergeResult::HistoryFull;
        record = &m_history.records[m_history.inUseCount++];
        // A new device starts from an empty record, so it cannot inherit a password left in that place.
        std::memset(record, 0, sizeof *record);
    }
    copyToField(record->name, fieldText(entry.name));
    copyToField(record->mac, fieldText(entry.mac));
    copyToField(record->location, fieldText(entry.location));
    copyToField(record->phyRate, fieldText(entry.phyRate));
    copyToField(record->led, fieldText(entry.led));
    copyToField(record->lastSeen, lastScanTime);
    copyToField(record->firmware, fieldText(entry.firmware));
    return foundIndex >= 1 ? MergeResult::Updated : MergeResult::Appended;
}

bool DeviceRegistry::SyncHistoryFromLists(const ListRows& historyRows, const ListRows& deviceRows,
                                          const ListRows& encryptionRows, std::span<const int> renamedRows,
                                          std::span<const int> ledChangedRows) {
    // The list never holds more rows than the history has records; anything beyond is not stored.
    const int rows = static_cast<int>(std::min<std::size_t>(historyRows.size(), HistoryTable::capacity));
    for (int i = 0; i < rows; ++i) {
        const std::vector<std::string>& row = historyRows[static_cast<std::size_t>(i)];
        const std::string& mac = cell(row, 1);
        HistoryRecord& record = m_history.records[i];

        for (int k = 0; k < HistoryTable::capacity; ++k) {
            if (fieldText(m_history.records[k].mac) == mac) {
                std::swap(m_history.records[k], record);
                break;
            }
        }

        bool renamed = false;
        for (const int r : renamedRows) {
            if (validRow(r, deviceRows) && cell(deviceRows[static_cast<std::size_t>(r)], 1) == mac) {
                copyToField(record.name, cell(deviceRows[static_cast<std::size_t>(r)], 0));
                renamed = true;
            }
        }
        bool ledChanged = false;
        for (const int r : ledChangedRows) {
            if (validRow(r, deviceRows) && cell(deviceRows[static_cast<std::size_t>(r)], 1) == mac) {
                copyToField(record.led, cell(deviceRows[static_cast<std::size_t>(r)], 5));
                ledChanged = true;
            }
        }
        if (!renamed)
            copyToField(record.name, cell(row, 0));
        if (!ledChanged)
            copyToField(record.led, cell(row, 4));

        // The name the network page shows now wins over both.
        for (const auto& device : deviceRows)
            if (cell(device, 1) == mac)
                copyToField(record.name, cell(device, 0));

        copyToField(record.mac, mac);
        for (const auto& encrypted : encryptionRows)
            if (cell(encrypted, 2) == mac)
                copyToField(record.password, cell(encrypted, 4));

        copyToField(record.location, cell(row, 2));
        copyToField(record.phyRate, cell(row, 3));
        copyToField(record.lastSeen, cell(row, 5));
        copyToField(record.firmware, cell(row, 6));
    }
    return static_cast<bool>(SaveHistory(rows));
}

ListRows DeviceRegistry::FillHistoryList(int count, const ListRows& deviceRows, const std::string& lastScanTime) {
    ListRows rows;
    if (HistoryFileHasData()) {
        count = std::clamp(count, 0, HistoryTable::capacity);
        for (int i = 0; i < count; ++i) {
            const HistoryRecord& record = m_history.records[i];
            rows.push_back({fieldText(record.name), fieldText(record.mac), fieldText(record.location),
                            fieldText(record.phyRate), fieldText(record.led), fieldText(record.lastSeen),
                            fieldText(record.firmware)});
        }
        return rows;
    }
    // No history yet: the list mirrors the device list (local device and stations), and so do the records.
    const std::size_t devices = std::min<std::size_t>(deviceRows.size(), HistoryTable::capacity);
    for (std::size_t i = 0; i < devices; ++i) {
        const std::vector<std::string>& device = deviceRows[i];
        HistoryRecord& record = m_history.records[i];
        std::memset(&record, 0, sizeof record);
        copyToField(record.name, cell(device, 0));
        copyToField(record.mac, cell(device, 1));
        copyToField(record.location, cell(device, 2));
        copyToField(record.phyRate, cell(device, 4));
        copyToField(record.led, cell(device, 5));
        copyToField(record.lastSeen, lastScanTime);
        copyToField(record.firmware, cell(device, 6));
        rows.push_back({fieldText(record.name), fieldText(record.mac), fieldText(record.location),
                        fieldText(record.phyRate), fieldText(record.led), fieldText(record.lastSeen),
                        fieldText(record.firmware)});
    }
    return rows;
}

void DeviceRegistry::addDevice(DeviceRecord& entry, const std::string& lastScanTime, ScanBuildResult& result) {
    const int found = FindHistoryRecord(entry, fieldText(entry.mac));
    ++m_scan.count;
    if (MergeIntoHistory(entry, found, lastScanTime) == MergeResult::HistoryFull) {
        ++result.notInHistory;
        // The name did not reach the history, where the next lookup would have seen it as taken.
        ++m_historyNameCounter;
    }
}

ScanBuildResult DeviceRegistry::buildScanTable(const LocalDeviceData& local, std::span<const StationData> stations,
                                               const std::string& lastScanTime, const NetworkKey& defaultNmk) {
    ScanBuildResult result;
    if (m_scan.count != 0)
        clearScanTable();
    std::memset(&m_scan.entries[0], 0, sizeof m_scan.entries[0]);
    std::memset(&m_history.records[0], 0, sizeof m_history.records[0]);
    if (HistoryFileHasData()) {
        clearHistoryTable();
        LoadHistory();
    }

    const std::string localMac = local.mac.text();
    DeviceRecord& own = m_scan.entries[0];
    copyToField(own.mac, localMac);
    copyToField(own.location, m_values.locationLocal);
    copyToField(own.quality, m_values.qualityGood);
    copyToField(own.phyRate, "200");
    copyToField(own.firmware, local.firmware);
    fillFromBlock(own, local.configBlock, m_values);
    if (local.configBlock && local.configBlock->size() >= mme::cfg::kNmk + defaultNmk.size())
        result.localKeyIsDefault = mme::nmkOf(*local.configBlock) == defaultNmk;
    addDevice(own, lastScanTime, result);

    for (const StationData& station : stations) {
        const std::string mac = station.mac.text();
        if (m_scan.contains(mac)) {
            ++result.duplicatesSkipped;
            continue;
        }
        if (m_scan.count >= ScanTable::capacity) {
            ++result.droppedTableFull;
            continue;
        }
        DeviceRecord& entry = m_scan.entries[m_scan.count];
        std::memset(&entry, 0, sizeof entry);
        copyToField(entry.mac, mac);
        copyToField(entry.location, station.mac == local.mac ? m_values.locationLocal : m_values.locationRemote);
        const int rate = station.averagePhyRate * 21 / 16;
        copyToField(entry.phyRate, std::to_string(rate));
        copyToField(entry.quality, qualityFor(rate, m_values));
        if (!station.answered) {
            // Known only from the local device's list: its name comes from the history, which keeps what it
            // knew of the device (a station that was not seen is not recorded as seen).
            copyToField(entry.quality, m_values.qualityMissing);
            FindHistoryRecord(entry, mac);
            ++m_scan.count;
            result.silentStations.push_back(mac);
            continue;
        }
        copyToField(entry.firmware, station.firmware);
        fillFromBlock(entry, station.configBlock, m_values);
        addDevice(entry, lastScanTime, result);
    }
    result.devices = m_scan.count;
    return result;
}

void applyPendingEdits(ListRows& historyRows, const ListRows& deviceRows, std::span<const int> renamedRows,
                       std::span<const int> ledChangedRows) {
    for (auto& row : historyRows) {
        if (row.size() < 7)
            row.resize(7);
        for (const int r : renamedRows)
            if (validRow(r, deviceRows) && cell(deviceRows[static_cast<std::size_t>(r)], 1) == row[1])
                row[0] = cell(deviceRows[static_cast<std::size_t>(r)], 0);
        for (const int r : ledChangedRows)
            if (validRow(r, deviceRows) && cell(deviceRows[static_cast<std::size_t>(r)], 1) == row[1])
                row[4] = cell(deviceRows[static_cast<std::size_t>(r)], 5);
    }
}

} // namespace zrq406
