#pragma once

#include "mme/firmware_upgrade.h"
#include "platform/mac_address.h"
#include "platform/operation_refused.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zrq406::app {

class Session;

enum class LedChange {
    Done,       // the new setting was written and committed
    Unchanged,  // the device already had it; nothing was written
    ReadFailed, // the configuration block could not be read; nothing was written
    NoSetting,  // the block holds no LED bytes; nothing was written
    WriteFailed // the device did not confirm the write or its commit
};
// Rewrites the device's LED bytes through its configuration block (read, change, write, commit).
LedChange changeLed(Session& session, const MacAddress& device, bool on);

// Asks the device to go back to its factory settings; true when it confirmed.
bool resetDevice(Session& session, const MacAddress& device);

// The network membership key in the device's active configuration block, if the device answers and the whole
// block passes its checks.
std::optional<mme::Key> readNetworkKey(Session& session, const MacAddress& device);

enum class PasswordProof {
    Accepted,     // the device took its own key under the password's device access key
    Refused,      // wrong password, or no answer
    KeyUnreadable // the device's key could not be read, so nothing was sent
};
// Proves a device password without changing the device's network: reads the device's current network membership
// key and sends that same key back through the device access key of `password`. A key not read from the device
// would move it to another network, so nothing is sent when the read fails.
PasswordProof proveDevicePassword(Session& session, const MacAddress& device, std::string_view password);

// Device passwords are printed in upper case; letters typed in lower case are taken as upper case.
std::string upperCaseDevicePassword(std::string_view typed);

// One device to put on a network key.
struct KeyTarget {
    MacAddress mac;
    bool remote = false;        // keyed through its device access key, forwarded by the local device
    std::string devicePassword; // remote devices only
    std::string name;           // "" when not known
};
// Sends `nmk` to one device: the local one directly, a remote one under the device access key of its password.
// Confirms the attached device first (confirmLocalDevice): every key goes through it.
bool sendNetworkKey(Session& session, const KeyTarget& target, const mme::Key& nmk);

// The language file's messages for an attached device that keys must not go to: more than one device answers as
// the attached one (msg111, their MACs), or the one found does not answer at its own MAC (msg112, its MAC).
inline constexpr const char* kLocalConflict = "msg111";
inline constexpr const char* kLocalUnconfirmed = "msg112";

// MAC texts joined by ", ".
std::string macListText(const std::vector<MacAddress>& macs);

// Thrown when a key would go to an attached device not confirmed in this operation: the operation stops with
// nothing sent, and what() tells the user why in the language file's words.
class LocalDeviceRefused : public OperationRefused {
public:
    using OperationRefused::OperationRefused;
};

// Before any key goes to the attached device (its own key, or a remote one that it forwards) within the running
// operation: unless this operation's scan found it already, asks the local-device address again, gathering every
// answer, and then the device found at its own MAC. More than one device answering, another device than the scan
// found, or no answer at its own MAC throws LocalDeviceRefused; with two answering, no adapter stays current.
void confirmLocalDevice(Session& session);

// The language file's message key that reports an upgrade of the configuration utility: msg31 for success, else
// msg28 (Japanese firmware), msg29 (another product), msg30 (versions that do not fit), msg16 (the firmware image
// was not written) or msg32.
std::string upgradeMessageKey(const mme::UpgradeOutcome& outcome);

} // namespace zrq406::app
