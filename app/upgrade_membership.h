#pragma once

#include "mme/firmware_upgrade.h"
#include "platform/mac_address.h"

#include <optional>
#include <string>
#include <string_view>

namespace zrq406::app {

class Session;

// A firmware upgrade puts the device on the public default network key. On a private key that takes it out of its
// network: a remote device drops out of it, and the local device takes this computer away from every remote one.
enum class NetworkMembership {
    Kept,      // the device was (or stays) on the default key
    LocalLeft, // the local device: this computer no longer reaches the devices of the private network
    RemoteLeft // a remote device: it is outside the private network and this computer no longer reaches it
};

// What an upgrade of `device` would do to its network membership, by the key the device is on now. Kept when that
// key cannot be read: the upgrade then stops at its own read, before anything is written.
NetworkMembership membershipRiskOfUpgrade(Session& session, const MacAddress& device);
// The question before such an upgrade (msg75 local, msg76 remote; "" when the membership is kept).
std::string upgradeWarningMessageKey(NetworkMembership risk);

struct MembershipAfterUpgrade {
    NetworkMembership membership = NetworkMembership::Kept;
    // The key the device was on, as its backup keeps it; none when the backup cannot be read.
    std::optional<mme::Key> previousKey;
};
// What a finished upgrade did to the device's network membership: once the new block was committed, the device is on
// the default key, and the key it had before is the one in the configuration block saved before the first write.
// When that backup cannot be read, `riskBefore` (membershipRiskOfUpgrade before the upgrade) stands, without a key.
MembershipAfterUpgrade membershipAfterUpgrade(Session& session, const MacAddress& device,
                                              const mme::UpgradeOutcome& outcome, NetworkMembership riskBefore);
// The offer to put the device back on its network (msg77 local, msg78 remote).
std::string rejoinOfferMessageKey(NetworkMembership membership);
// The closing word of a device left outside its network, msg80 with its field: Text for the local device, Text2 for
// a remote one.
std::string staysOutsideField(NetworkMembership membership);

// Puts a device back on `key`: the local device directly, a remote one under the device access key of
// `devicePassword` (the local device forwards it whatever network the remote is on). True when it took it.
bool rejoinNetwork(Session& session, const MacAddress& device, NetworkMembership membership, const mme::Key& key,
                   std::string_view devicePassword = {});

} // namespace zrq406::app
