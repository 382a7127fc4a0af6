#include "app/device_actions.h"

#include "app/session.h"
#include "mme/key_derivation.h"
#include "uitext/load_ui_setting.h"
#include "uitext/placeholders.h"

namespace zrq406::app {

LedChange changeLed(Session& session, const MacAddress& device, bool on) {
    if (!session.hasCurrentAdapter())
        return LedChange::ReadFailed;
    auto& operations = session.operations();
    mme::ConfigBlock block{};
    if (!operations.ReadConfigBlock(device, block))
        return LedChange::ReadFailed;
    if (!mme::hasLeds(block))
        return LedChange::NoSetting;
    if (mme::ledsOff(block) != on)
        return LedChange::Unchanged;
    mme::setLeds(block, on);
    return operations.WriteConfigBlock(false, 0, 0, device, block) ? LedChange::Done : LedChange::WriteFailed;
}

bool resetDevice(Session& session, const MacAddress& device) {
    return session.hasCurrentAdapter() && session.operations().FactoryReset(device);
}

std::optional<mme::Key> readNetworkKey(Session& session, const MacAddress& device) {
    if (!session.hasCurrentAdapter())
        return std::nullopt;
    // The whole block, so that its own checksum vouches for the key: a device need not send a checksum with each
    // answer, and a damaged key sent back to the device would move it to another network.
    mme::ConfigBlock block{};
    if (!session.operations().ReadConfigBlock(device, block))
        return std::nullopt;
    return mme::nmkOf(block);
}

std::string macListText(const std::vector<MacAddress>& macs) {
    std::string text;
    for (const MacAddress& mac : macs)
        text += (text.empty() ? "" : ", ") + mac.text();
    return text;
}

void confirmLocalDevice(Session& session) {
    if (!session.hasCurrentAdapter() || session.localDeviceConfirmed())
        return;
    link::AdapterRecord& adapter = *session.adapters().current();
    const MacAddress found = adapter.localDeviceMac;
    const auto refuse = [&](const char* key, const std::string& macs) {
        throw LocalDeviceRefused(
            fillPlaceholders(session.texts().LoadPageCaption("ZRQ406", "Messages", key, "Text"), {macs}));
    };
    mme::LocalNetworkRecord answer;
    const bool single = session.discovery().QuerySoftwareVersion(nullptr, answer);
    if (!answer.conflictingSources.empty()) {
        session.adapters().setCurrentAdapter(-1);
        refuse(kLocalConflict, macListText(answer.conflictingSources));
    }
    // Another device than the scan found, or none: the scan's device stays the attached one, but gets no key.
    if (!single || answer.mac != found) {
        adapter.localDeviceMac = found;
        refuse(kLocalUnconfirmed, found.text());
    }
    mme::LocalNetworkRecord own;
    if (!session.discovery().QuerySoftwareVersion(&found, own) || own.mac != found)
        refuse(kLocalUnconfirmed, found.text());
    session.noteLocalDeviceConfirmed();
}

PasswordProof proveDevicePassword(Session& session, const MacAddress& device, std::string_view password) {
    const auto key = readNetworkKey(session, device);
    if (!key)
        return PasswordProof::KeyUnreadable;
    confirmLocalDevice(session);
    return session.operations().SetRemoteKey(password, *key, device) ? PasswordProof::Accepted : PasswordProof::Refused;
}

std::string upperCaseDevicePassword(std::string_view typed) {
    std::string text(typed);
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

bool sendNetworkKey(Session& session, const KeyTarget& target, const mme::Key& nmk) {
    if (!session.hasCurrentAdapter())
        return false;
    confirmLocalDevice(session);
    auto& operations = session.operations();
    return target.remote ? operations.SetRemoteKey(target.devicePassword, nmk, target.mac)
                         : operations.SetKey(nmk, nullptr, nullptr);
}

std::string upgradeMessageKey(const mme::UpgradeOutcome& outcome) {
    if (outcome.ok)
        return "msg31";
    if (outcome.verdict == mme::VersionVerdict::Japanese)
        return "msg28";
    if (outcome.failedStep == mme::UpgradeStep::Product)
        return "msg29";
    if (outcome.failedStep == mme::UpgradeStep::Version)
        return "msg30";
    if (outcome.failedStep == mme::UpgradeStep::WriteFirmware)
        return "msg16";
    return "msg32";
}

} // namespace zrq406::app
