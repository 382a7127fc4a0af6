#pragma once

#include "app/device_actions.h"
#include "platform/mac_address.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zrq406::app {

class Session;

// One device offered for a key change, as a page's row or a command line names it.
struct KeyRequestRow {
    std::string mac;            // MAC text
    std::string name;           // "" when not known
    bool local = false;         // the device attached to this computer, keyed directly
    bool ticked = true;         // chosen for the change
    std::string devicePassword; // remote devices only
};

// What a key change is to do: the devices in the order they are keyed, remote devices first in the order given and
// the local device last (keyed first, it would cut the way to the others).
struct KeyChangePlan {
    std::vector<KeyTarget> targets;
    bool anyTicked = false;
    // Rows (indexes into the request) of ticked remote devices without a device password: left out of the targets.
    std::vector<std::size_t> withoutPassword;
    // The MAC texts of the targets, in their order.
    std::vector<std::string> deviceTexts() const;
};
KeyChangePlan planKeyChange(const std::vector<KeyRequestRow>& rows);

// The key a device is on after a key change.
enum class DeviceKey {
    New,    // it confirmed the new key, or its block shows it
    Old,    // it was not changed: not tried, or refused and read back on its old key
    Unknown // it did not answer: it may have taken the new key or kept the old one
};

// What stands between a device and the new key.
enum class KeyTrouble {
    None,
    PasswordRefused, // its device password did not prove
    NotReached,      // its network key could not be read, so its password could not be proved
    KeyRefused       // it did not take the new key, twice
};

// What the user can do about a device after a key change.
enum class KeyAdvice {
    None,          // it is where it was meant to be
    EnterPassword, // nothing changed: give the right device password and start again
    CheckDevice,   // nothing changed: plug it in (on this network) and start again
    RunAgain,      // still on the old key with this computer: start the change again for it
    AwaitsOthers,  // on the new key, cut off from this computer until the rest follows
    FindOut        // its key is not known: scan to see whether it is still on the old key
};

struct DeviceKeyState {
    MacAddress mac;
    std::string name;
    bool remote = false;
    DeviceKey key = DeviceKey::Old;
    KeyTrouble trouble = KeyTrouble::None;
    KeyAdvice advice = KeyAdvice::None;
};

enum class KeyChangeResult {
    Done,      // every device took the new key
    NotProved, // a device password did not prove: no key was changed
    Stopped    // a device did not take the key, even again: the devices after it were not keyed
};

struct KeyChangeOutcome {
    KeyChangeResult result = KeyChangeResult::Done;
    std::vector<DeviceKeyState> devices; // in the order of the targets
};

// Puts the targets on the key of a network password already validated, without cutting a device off by a refusal:
// every remote device's password is proved first (its own key sent back under it) and nothing is changed when a
// proof fails; a device that does not take the new key is tried once more and then read back, and the change
// stops there, so that the devices already keyed, the device that failed and the ones left are each reported with
// the key they are on.
KeyChangeOutcome changeNetworkKey(Session& session, std::string_view networkPassword,
                                  const std::vector<KeyTarget>& targets);

// After keys were changed the devices rejoin their networks under the new key: waits for that before the network
// is searched again (at once when no device changed its key).
void waitForRejoin(Session& session, const KeyChangeOutcome& outcome);

} // namespace zrq406::app
