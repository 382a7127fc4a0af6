#pragma once

#include "mme/key_derivation.h"
#include "mme/mme_frame.h"
#include "platform/mac_address.h"
#include "sim/firmware_image.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zrq406::sim {

// Average PHY rates from one device towards a peer, as the network information reports them.
struct Rate {
    std::uint8_t tx = 0;
    std::uint8_t rx = 0;
};

// A change of a link's rates some time after the network was loaded: new rates, or the link gone (the two devices
// no longer list each other).
struct RateStep {
    double afterMs = 0;
    Rate rate;
    bool drop = false;
};

// Now and then a link falls far below its usual rate (a charger or a dimmer switched on somewhere): from
// `firstAfterMin` minutes after the network was loaded, every `everyMin` minutes, for `forMin` minutes, both
// directions at `toPercent` per cent of what they would be. Minutes of simulated time (scaled like every delay).
struct RateDips {
    double firstAfterMin = 60;
    double everyMin = 180;
    double forMin = 12;
    double toPercent = 40;
};

// What a network file says of one link beside its rates (both directions; a device's own entry wins over the
// peer's).
struct LinkSetting {
    std::optional<int> slots; // carrier map slots, 0 (nothing sent on the link yet) to 6
    std::optional<RateDips> dips;
};

// A noise source near a device: the carriers from `fromMHz` to `toMHz` of what the device receives lose `dB` of
// their signal to noise ratio; only the frames of `peers` when that list is not empty.
struct NoiseBand {
    double fromMHz = 0;
    double toMHz = 0;
    double dB = 0;
    std::vector<MacAddress> peers;
};

// Whether a device offers link statistics and carrier maps: answers them, ignores them (as a device that does not
// know the messages), or refuses them with a status.
enum class LinkHealthOffer { Answer, Silent, Refuse };

// How long a device stays silent after each kind of restart.
struct RestartTimes {
    double firmwareCommitMs = 3000; // commit of module set 3
    double configCommitMs = 800;    // commit of module set 2
    double factoryResetMs = 5000;
    double restartMs = 4000; // restart request: key, name and settings kept
};

// A computer or other host on the Ethernet side of a device, as the device lists it.
struct HostDescription {
    MacAddress mac;
    std::uint8_t id = 0; // the device's enumeration id
};

enum class FaultKind { Drop, Delay, Duplicate, Fail, Malformed, Corrupt, PowerLoss };
enum class MalformedForm {
    Short,           // cut to 21 bytes
    Stations,        // network information claiming more stations than the frame holds
    Unterminated,    // software version text without its terminator
    RepeatedStation, // network information listing its first station a second time
    NoChecksum       // read answer whose checksum field is zero, as from a device that does not fill it
};

// One injected fault of a device. A fault picks the confirmations it acts on either by count (`nth` request
// of `message`, or of all requests when `message` is empty) or by a seeded random `share`.
struct FaultSetting {
    FaultKind kind = FaultKind::Drop;
    std::optional<mme::MmType> message;
    int nth = 0;
    double share = 0;
    std::uint32_t seed = 1;
    double delayMs = 0;      // Delay
    std::uint8_t status = 1; // Fail
    MalformedForm form = MalformedForm::Short;
    std::size_t offset = 36;      // Corrupt: the frame byte that is inverted
    int afterBlock = 0;           // PowerLoss: after this many written firmware blocks
    std::optional<double> downMs; // PowerLoss: silence; the firmware commit restart time when empty
};

// What a factory reset brings back.
struct FactorySettings {
    // A reset of these devices keeps the firmware they run; only a network file that names a factory firmware
    // makes a reset bring that one back.
    std::string firmware;
    bool firmwareGiven = false;
    mme::Key nmk = mme::kDefaultNmk;
    bool ledOn = true;
    std::string product;
    std::size_t configLength = 8192;
};

// One simulated device, resolved from the network description: defaults applied, keys derived, its active
// configuration block built (or taken from the saved state).
struct DeviceDescription {
    MacAddress mac;
    std::string password;
    std::string platform;
    std::uint8_t deviceId = 2;
    std::uint8_t tei = 1;
    MacAddress bridgedMac;
    std::map<MacAddress, Rate> rates;
    // Later rates of some of those links, in time order.
    std::map<MacAddress, std::vector<RateStep>> rateSchedule;
    // Where the device sits on the power line (metres); rates not set are derived from the distance when both
    // devices have one.
    std::optional<double> position;
    // Carrier map slots, drift, dips of its links beside their rates; noise near it.
    std::map<MacAddress, LinkSetting> links;
    std::vector<NoiseBand> noise;
    LinkHealthOffer linkHealth = LinkHealthOffer::Answer;
    int carrierMapSlots = 2;     // of a link that does not name its own number
    double rateDriftPercent = 0; // how far every link's rate sinks at the low of the (simulated) day
    double latencyMs = 5;
    double flashMsPerBlock = 0.2;
    RestartTimes restart;
    std::vector<FaultSetting> faults;
    FactorySettings factory;
    std::vector<std::uint8_t> configBlock;
    FirmwareIdentity firmware;
    // Its pair button was pressed as the network was loaded: for two minutes it joins a device whose button is
    // pressed too.
    bool pairing = false;
    std::vector<HostDescription> hosts;
};

// A host Ethernet port of the simulated machine, optionally plugged into a device.
struct HostAdapterDescription {
    std::string name;
    std::string description;
    MacAddress mac;
    std::optional<MacAddress> device;
    // Other hosts on this port's Ethernet segment that answer the local-device address as if they were the attached
    // device, at once and under their own MAC: a hostile host, for testing that the programs notice it.
    std::vector<MacAddress> impostors;
};

struct NetworkDescription {
    std::vector<HostAdapterDescription> hostAdapters;
    std::vector<DeviceDescription> devices;
};

} // namespace zrq406::sim

namespace zrq406::sim {

// The names of the requests in network files and logs: "software-version", "write-module", "read-module",
// "commit", "network-info", "set-key", "attributes", "factory-reset", "push-button", "restart", "hosts",
// "link-statistics", "carrier-map".
std::string_view requestName(mme::MmType type);
std::optional<mme::MmType> requestFromName(std::string_view name);

} // namespace zrq406::sim
