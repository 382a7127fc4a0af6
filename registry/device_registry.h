#pragma once

#include "mme/frame_builder.h"
#include "platform/mac_address.h"
#include "platform/paths.h"
#include "registry/device_record.h"
#include "registry/history_file.h"
#include "registry/history_record.h"
#include "registry/list_rows.h"
#include "registry/value_texts.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zrq406 {

class CLoadUISetting;

// A 16-byte network membership key.
using NetworkKey = mme::Key;

// What discovery and the configuration-block read gave for the local device.
struct LocalDeviceData {
    MacAddress mac;
    std::string firmware;
    // The device's configuration block; nothing when it could not be read.
    std::optional<std::span<const std::uint8_t>> configBlock;
};

// What discovery and the configuration-block read gave for one remote station.
struct StationData {
    MacAddress mac;
    // The average PHY rate value of the station list.
    std::uint8_t averagePhyRate = 0;
    std::string firmware;
    // The station's configuration block; nothing when it could not be read.
    std::optional<std::span<const std::uint8_t>> configBlock;
    // False for a station that the local device lists but that did not answer: shown, not merged into the history.
    bool answered = true;
};

// How MergeIntoHistory went.
enum class MergeResult {
    Updated,      // the device's history record was refreshed
    Appended,     // the device was added at the end of the history
    HistoryFull,  // a new device found no room: the history keeps its capacity's worth of devices
    InvalidIndex, // the found index names no record
};

// What a scan's rebuild of the tables did.
struct ScanBuildResult {
    // Devices now in the ScanTable.
    int devices = 0;
    // Stations skipped because their MAC was already in the table.
    int duplicatesSkipped = 0;
    // Stations left out because the ScanTable was full.
    int droppedTableFull = 0;
    // Devices shown but not recorded in the history because it was full.
    int notInHistory = 0;
    // Whether the local device uses the given default network key; nothing when its block was not read.
    std::optional<bool> localKeyIsDefault;
    // The MAC texts of the listed stations that did not answer.
    std::vector<std::string> silentStations;
};

// The device tables of one program: the ScanTable of the latest scan, the HistoryTable and its file, the two
// default-name counters and the language words the tables hold. Not locked: the busy state of the main window
// keeps a second operation away while one runs.
class DeviceRegistry {
public:
    // The history lives in "devices.dat" at the usual place unless a test or --history names another file.
    explicit DeviceRegistry(std::filesystem::path historyPath = paths::historyFile());

    ScanTable& scanTable() { return m_scan; }
    const ScanTable& scanTable() const { return m_scan; }
    HistoryTable& historyTable() { return m_history; }
    const HistoryTable& historyTable() const { return m_history; }
    const std::filesystem::path& historyPath() const { return m_file.path(); }
    void setHistoryPath(std::filesystem::path path) { m_file.setPath(std::move(path)); }

    const ValueTexts& valueTexts() const { return m_values; }
    void setValueTexts(ValueTexts values) { m_values = std::move(values); }
    // Reads the eight value texts from the language file (done at the start of every scan).
    void reloadValueTexts(CLoadUISetting& settings) { m_values = ValueTexts::load(settings); }

    // Zeroes all ScanTable entries and its count, and restarts the default names of a run without history.
    void clearScanTable();
    // Zeroes all history records and the in-use count.
    void clearHistoryTable();
    // Forgets which history records this run has filled (entering the busy state does this).
    void clearInUseCount() { m_history.inUseCount = 0; }

    // True when the history file can be read and stores at least one record.
    bool HistoryFileHasData() const;
    // Reads the history file into the HistoryTable (the caller clears the table first).
    HistoryLoadResult LoadHistory();
    // Writes history records 0 .. count - 1 to the history file.
    FileWriteResult SaveHistory(int count);

    // The 1-based index of the history record with this MAC text, or 0. Sets the entry's name and password: the
    // stored ones of a known device, else the next free default name.
    int FindHistoryRecord(DeviceRecord& entry, const std::string& macText);
    // Copies a finished ScanTable entry into its history record (foundIndex >= 1) or appends it (0). A known
    // device keeps its stored password.
    MergeResult MergeIntoHistory(const DeviceRecord& entry, int foundIndex, const std::string& lastScanTime);

    // Rebuilds history records 0 .. rows - 1 from the Device History list and the edits pending in the other
    // lists, then saves them; devices deleted from the Device History list are dropped from the file.
    // `renamedRows` and `ledChangedRows` name rows of the device list; -1 entries are skipped.
    bool SyncHistoryFromLists(const ListRows& historyRows, const ListRows& deviceRows, const ListRows& encryptionRows,
                              std::span<const int> renamedRows, std::span<const int> ledChangedRows);
    // The rows of the Device History list: history records 0 .. count - 1 when the history file has data;
    // otherwise the device list's rows, which also become history records 0 ...
    ListRows FillHistoryList(int count, const ListRows& deviceRows, const std::string& lastScanTime);

    // Rebuilds the ScanTable from a scan's findings and merges every device into the history: the local device
    // first, then each station not yet in the table, in order. `defaultNmk` is the HomePlug AV default network
    // membership key, against which the local device's key is compared.
    ScanBuildResult buildScanTable(const LocalDeviceData& local, std::span<const StationData> stations,
                                   const std::string& lastScanTime, const NetworkKey& defaultNmk);

private:
    // Looks the entry being built at the ScanTable's count up in the history, counts it and merges it.
    void addDevice(DeviceRecord& entry, const std::string& lastScanTime, ScanBuildResult& result);

    ScanTable m_scan{};
    HistoryTable m_history{};
    HistoryFile m_file;
    ValueTexts m_values;
    // Default names when a history exists: process-wide, never reset.
    int m_historyNameCounter = 1;
    // Default names without history: restarted with every cleared ScanTable.
    int m_plainNameCounter = 0;
};

// Copies the pending renames and LED changes of the device list into the Device History list's rows (name column
// 0, LED column 4), matched by MAC as SyncHistoryFromLists matches them.
void applyPendingEdits(ListRows& historyRows, const ListRows& deviceRows, std::span<const int> renamedRows,
                       std::span<const int> ledChangedRows);

} // namespace zrq406
