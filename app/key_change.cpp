#include "app/key_change.h"

#include "app/session.h"
#include "mme/key_derivation.h"

#include <algorithm>
#include <optional>

namespace zrq406::app {

namespace {

// A refusal in the middle of a change is often passing (a busy device, a lost confirmation): the device is asked
// once more after this pause before the change stops.
constexpr double kRetryPauseMs = 1000;
constexpr double kRejoinWaitMs = 8000;

KeyAdvice adviceFor(const DeviceKeyState& device, KeyChangeResult result, bool localLeftBehind) {
    switch (device.trouble) {
    case KeyTrouble::PasswordRefused:
        return KeyAdvice::EnterPassword;
    case KeyTrouble::NotReached:
        return KeyAdvice::CheckDevice;
    case KeyTrouble::None:
    case KeyTrouble::KeyRefused:
        break;
    }
    switch (device.key) {
    case DeviceKey::Unknown:
        return KeyAdvice::FindOut;
    case DeviceKey::New:
        // A remote device keyed on purpose away from this computer's network is where it was meant to be.
        return localLeftBehind && device.remote ? KeyAdvice::AwaitsOthers : KeyAdvice::None;
    case DeviceKey::Old:
        return result == KeyChangeResult::Stopped ? KeyAdvice::RunAgain : KeyAdvice::None;
    }
    return KeyAdvice::None;
}

void advise(KeyChangeOutcome& outcome) {
    const bool localLeftBehind =
        outcome.result == KeyChangeResult::Stopped &&
        std::any_of(outcome.devices.begin(), outcome.devices.end(),
                    [](const DeviceKeyState& d) { return !d.remote && d.key != DeviceKey::New; });
    for (DeviceKeyState& device : outcome.devices)
        device.advice = adviceFor(device, outcome.result, localLeftBehind);
}

} // namespace

std::vector<std::string> KeyChangePlan::deviceTexts() const {
    std::vector<std::string> texts;
    for (const KeyTarget& target : targets)
        texts.push_back(target.mac.text());
    return texts;
}

KeyChangePlan planKeyChange(const std::vector<KeyRequestRow>& rows) {
    KeyChangePlan plan;
    std::optional<KeyTarget> local;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const KeyRequestRow& row = rows[r];
        if (!row.ticked)
            continue;
        plan.anyTicked = true;
        if (row.local) {
            local = KeyTarget{MacAddress::fromText(row.mac), false, {}, row.name};
            continue;
        }
        if (row.devicePassword.empty()) {
            plan.withoutPassword.push_back(r);
            continue;
        }
        plan.targets.push_back({MacAddress::fromText(row.mac), true, row.devicePassword, row.name});
    }
    if (local)
        plan.targets.push_back(*local);
    return plan;
}

KeyChangeOutcome changeNetworkKey(Session& session, std::string_view networkPassword,
                                  const std::vector<KeyTarget>& targets) {
    KeyChangeOutcome outcome;
    for (const KeyTarget& target : targets)
        outcome.devices.push_back({target.mac, target.name, target.remote});

    // A wrong password found half way would leave the devices keyed before it on a network this computer no
    // longer reaches: every password is proved before the first key changes.
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (!targets[i].remote)
            continue;
        switch (proveDevicePassword(session, targets[i].mac, targets[i].devicePassword)) {
        case PasswordProof::Accepted:
            break;
        case PasswordProof::Refused:
            outcome.devices[i].trouble = KeyTrouble::PasswordRefused;
            outcome.result = KeyChangeResult::NotProved;
            break;
        case PasswordProof::KeyUnreadable:
            outcome.devices[i].trouble = KeyTrouble::NotReached;
            outcome.result = KeyChangeResult::NotProved;
            break;
        }
    }
    if (outcome.result == KeyChangeResult::NotProved) {
        advise(outcome);
        return outcome;
    }

    const mme::Key nmk = mme::DeriveNmk(networkPassword);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        DeviceKeyState& device = outcome.devices[i];
        bool keyed = sendNetworkKey(session, targets[i], nmk);
        if (!keyed) {
            session.pacing().sleep(kRetryPauseMs);
            keyed = sendNetworkKey(session, targets[i], nmk);
        }
        if (!keyed) {
            // Refused twice, or its confirmations were lost: what its block holds decides, if it still answers.
            const auto key = readNetworkKey(session, targets[i].mac);
            keyed = key && *key == nmk;
            if (!keyed) {
                device.key = key ? DeviceKey::Old : DeviceKey::Unknown;
                device.trouble = KeyTrouble::KeyRefused;
                outcome.result = KeyChangeResult::Stopped;
                break;
            }
        }
        device.key = DeviceKey::New;
    }
    advise(outcome);
    return outcome;
}

void waitForRejoin(Session& session, const KeyChangeOutcome& outcome) {
    const bool changed = std::any_of(outcome.devices.begin(), outcome.devices.end(),
                                     [](const DeviceKeyState& d) { return d.key != DeviceKey::Old; });
    if (changed)
        session.pacing().sleep(kRejoinWaitMs);
}

} // namespace zrq406::app
