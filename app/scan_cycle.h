#pragma once

#include "app/link_history.h"
#include "mme/discovery.h"
#include "app/link_health.h"
#include "app/link_table.h"
#include "platform/mac_address.h"
#include "registry/device_registry.h"

#include <ctime>
#include <string>
#include <vector>

namespace zrq406::app {

class DevicePasswordTable;
class Session;

// What one scan found and built.
struct ScanReport {
    // A local device answered on some adapter; the rest is filled only then.
    bool found = false;
    // The local device answered but its station list could not be read: the tables were left as they were.
    bool stationListUnread = false;
    // The adapter on which it answered, now the current adapter.
    int adapter = -1;
    ScanBuildResult built;
    // Devices whose configuration block could not be read (shown with LED on and model unknown).
    std::vector<MacAddress> unreadBlocks;
    // What the link history has to tell about this scan ("" for nothing): shown once, as the history-full notice.
    std::string historyNotice;
    // The counts of the local device's links to each answering station since the last scan, as the history
    // recorded them.
    std::vector<LinkDirectionHealth> localHealth;
};

// The adapter loop of every scan: for each adapter in order (only `only` when it is 0 or more) the discovery
// result is cleared and discovery runs; the first adapter whose local device answers becomes the current adapter.
// Returns its index, or -1 with the discovery result cleared. When more than one device answers as the attached one,
// the loop stops there: -1, no adapter current, and the result names them (localConflictText).
int findLocalDevice(Session& session, int only = -1);

// Builds the scan's device records from the discovery result: reads each device's configuration block fields,
// rebuilds the ScanTable with the local device first (stations that did not answer are listed, not read), merges every
// device into the history (loaded afresh when the history file has data) and gives each device the password that
// `passwords` holds for it. The history is not saved here; the scan is appended to the session's link history.
ScanReport buildScanRecords(Session& session, const std::string& lastScanTime,
                            const DevicePasswordTable* passwords = nullptr);

// What a scan hands to the link history: every device of the scan table with what the discovery result says of
// its answer, and every link of the link table (both directions of each ordered pair). Without a link table, the
// links from the local device to each station with the station list's rates. Each link of `health` that was
// counted lends its PB error rate to the link of the same direction.
HistoryScan historyScanOf(const mme::DiscoveryResult& result, const ScanTable& scan, const LinkTable& links,
                          std::time_t when, const std::vector<LinkDirectionHealth>& health = {});

// findLocalDevice, then buildScanRecords when a device answered.
ScanReport runScan(Session& session, const std::string& lastScanTime, const DevicePasswordTable* passwords = nullptr);

// The language file's message that names the devices answering together as the attached one (msg111), for a
// discovery result that holds them; "" when it holds none.
std::string localConflictText(CLoadUISetting& texts, const mme::DiscoveryResult& result);

// The scan time as the lists and the history show it: "MMM dd HH:mm", or "dd MMM HH:mm" in German.
std::string scanTimeText(bool german, std::time_t when = std::time(nullptr));

// The network type word of the local device's key: the language file's public or private wording, empty when the
// key is not known.
std::string networkTypeText(CLoadUISetting& texts, const ScanBuildResult& built);

// The language file's key of the message that devices of a scan found no room in the full device history.
inline constexpr const char* kHistoryFull = "msg82";

// That message, filled with the number of devices left out, when it is due: the first time devices are left out,
// and again only when more are left out than `lastTold` (updated here), so that the rescan every two minutes does
// not repeat it. Empty when nothing is to be told.
std::string historyFullNotice(CLoadUISetting& texts, const ScanReport& report, int& lastTold);

} // namespace zrq406::app
