#include "app/upgrade_membership.h"

#include "app/device_actions.h"
#include "app/session.h"
#include "mme/config_block.h"

#include <filesystem>
#include <fstream>
#include <vector>

namespace zrq406::app {

namespace {

bool isLocalDevice(Session& session, const MacAddress& device) {
    const link::AdapterRecord* adapter = session.hasCurrentAdapter() ? session.adapters().current() : nullptr;
    return adapter != nullptr && adapter->localDeviceMac == device;
}

NetworkMembership membershipOnPrivateKey(Session& session, const MacAddress& device, const mme::Key& key) {
    if (key == mme::kDefaultNmk)
        return NetworkMembership::Kept;
    return isLocalDevice(session, device) ? NetworkMembership::LocalLeft : NetworkMembership::RemoteLeft;
}

// The key in a saved configuration block of `device`; the block is checked as one read from a device would be.
std::optional<mme::Key> keyOfBackup(const std::filesystem::path& path, const MacAddress& device) {
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error))
        return std::nullopt;
    const auto size = std::filesystem::file_size(path, error);
    if (error || size < mme::cfg::kMinLength || size > mme::cfg::kMaxLength)
        return std::nullopt;
    std::vector<std::uint8_t> block(static_cast<std::size_t>(size));
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size())))
        return std::nullopt;
    if (!mme::configBlockValid(block) ||
        !std::equal(device.bytes.begin(), device.bytes.end(), block.begin() + mme::cfg::kMac))
        return std::nullopt;
    return mme::nmkOf(block);
}

} // namespace

NetworkMembership membershipRiskOfUpgrade(Session& session, const MacAddress& device) {
    const auto key = readNetworkKey(session, device);
    return key ? membershipOnPrivateKey(session, device, *key) : NetworkMembership::Kept;
}

std::string upgradeWarningMessageKey(NetworkMembership risk) {
    switch (risk) {
    case NetworkMembership::Kept:
        return {};
    case NetworkMembership::LocalLeft:
        return "msg75";
    case NetworkMembership::RemoteLeft:
        return "msg76";
    }
    return {};
}

MembershipAfterUpgrade membershipAfterUpgrade(Session& session, const MacAddress& device,
                                              const mme::UpgradeOutcome& outcome, NetworkMembership riskBefore) {
    // A device that restarted after its commit, even one that did not answer again, runs the new block.
    const bool committed =
        outcome.ok ? outcome.verdict != mme::VersionVerdict::Same : outcome.failedStep == mme::UpgradeStep::Restart;
    if (!committed)
        return {};
    const auto key = keyOfBackup(outcome.backup, device);
    if (!key)
        return {riskBefore, std::nullopt};
    return {membershipOnPrivateKey(session, device, *key), key};
}

std::string rejoinOfferMessageKey(NetworkMembership membership) {
    return membership == NetworkMembership::LocalLeft ? "msg77" : "msg78";
}

std::string staysOutsideField(NetworkMembership membership) {
    return membership == NetworkMembership::LocalLeft ? "Text" : "Text2";
}

bool rejoinNetwork(Session& session, const MacAddress& device, NetworkMembership membership, const mme::Key& key,
                   std::string_view devicePassword) {
    if (membership == NetworkMembership::Kept)
        return false;
    const bool remote = membership == NetworkMembership::RemoteLeft;
    return sendNetworkKey(session, {device, remote, std::string(remote ? devicePassword : std::string_view{}), {}},
                          key);
}

} // namespace zrq406::app
