#pragma once

#include "app/hardware_makers.h"
#include "mme/confirmations.h"
#include "platform/mac_address.h"
#include "registry/device_registry.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zrq406::app {

class Session;

// The push button, a restart and the hosts behind a device. Each runs within one operation of the session, after
// a scan found the local device (findLocalDevice), and states its outcome for the command line or a page to show.

// The device the push button acts on: the given one, else the local device of the current adapter.
MacAddress pushButtonTarget(Session& session, const std::optional<MacAddress>& device);

// Presses the device's push button (the local device without `device`): its answer, nothing when none came.
std::optional<mme::PushButtonConfirm> pushButton(Session& session, const std::optional<MacAddress>& device,
                                                 mme::PushButtonAction action);

// How long a pressed pair button waits for another, and how often the network is searched meanwhile.
inline constexpr double kPairingWindowMs = 120000;
inline constexpr double kPairingScanMs = 5000;

struct JoinOutcome {
    enum Result {
        Joined,     // a station appeared that was not there before
        TimedOut,   // none within the two minutes
        NotPressed, // the device did not confirm the press
        Stopped     // the caller stopped the wait
    };
    Result result = NotPressed;
    std::uint8_t status = 0;   // of the press's confirmation
    MacAddress newStation;     // Joined: the station that appeared
    std::string name;          // its name as the scan lists it ("" when none)
};
// Called at least once a second with the seconds left of the two minutes; false stops the wait.
using JoinProgress = std::function<bool(int secondsLeft)>;
// Pairs a new device with the network: presses the pair button of `device` (the local device without it), then
// searches the network every five seconds until a station appears that was not there before, for at most the two
// minutes of the button (all waits through the session's pacing). The stations that count as there before are those
// of the scan that found the local device. The search that finds the new station builds the scan's records (with
// `scanTime` as their time), which name it.
JoinOutcome joinNetwork(Session& session, const std::optional<MacAddress>& device, const std::string& scanTime,
                        const JoinProgress& progress);

enum class RestartResult {
    Done,     // confirmed, and the device answered again after its restart
    Refused,  // no confirmation, or a failing status
    NotBack   // confirmed, but the device did not answer again
};
// How long a device is given for its restart before it is asked again, and for how long it is asked then.
inline constexpr double kRestartWaitMs = 5000;
inline constexpr double kRestartAnswerMs = 10000;
// Restarts the device with its key, name and settings, waits out the restart and checks that it answers again.
RestartResult restartAndWait(Session& session, const MacAddress& device);

struct HostInfo {
    MacAddress mac;
    std::uint8_t id = 0;
    std::string maker; // "" when the registry list names none
};
struct HostList {
    bool answered = false; // a sound answer came
    std::uint8_t status = 0;
    std::vector<HostInfo> hosts;
};
// The hosts behind the device, each with its maker looked up in `makers`.
HostList hostsBehind(Session& session, const MacAddress& device, HardwareMakers& makers = HardwareMakers::system());
// The hosts behind each of `devices`, asked of all at once under one answer time. A device that gives no sound
// answer has no entry.
using HostsByDevice = std::map<MacAddress, HostList>;
HostsByDevice readHostsOfAll(Session& session, const std::vector<MacAddress>& devices,
                             HardwareMakers& makers = HardwareMakers::system());
// The hosts of a device for a tooltip: `heading`, then a line per host with its MAC and maker (the MAC alone when
// the maker is unknown); `none` when the device answered that it has none; "" when it did not answer.
std::string hostsText(const HostList& list, const std::string& heading, const std::string& none);

// Whether the scan found the local device's network on the public default key (anyone with an adapter can join
// it); nothing when its key is not known.
std::optional<bool> networkUsesPublicKey(const ScanBuildResult& built);

} // namespace zrq406::app
