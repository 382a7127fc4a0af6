#include "app/utility_flows.h"

#include "app/session.h"

namespace zrq406::app {

namespace {
// The device restarts after a factory reset; the two pauses before its result is told and the network rescanned.
constexpr double kResetFirstPauseMs = 7000;
constexpr double kResetSecondPauseMs = 6000;
// A committed configuration block (new LED or priority settings) makes the device restart before it answers.
constexpr double kConfigRestartMs = 4000;

constexpr char kResetDone[] = "msg48";
constexpr char kResetRefused[] = "msg49";
constexpr char kResetDeviceNotFoundAgain[] = "msg59";
constexpr char kNoDeviceFound[] = "msg24";

constexpr char kRestartDone[] = "msg113";
constexpr char kRestartRefused[] = "msg114";
constexpr char kRestartNotBack[] = "msg115";
constexpr char kRemoveQuestion[] = "msg116";
constexpr char kRemoved[] = "msg117";
constexpr char kRemoveRefused[] = "msg118";
} // namespace

bool factoryResetAndWait(Session& session, const MacAddress& device) {
    const bool reset = resetDevice(session, device);
    session.pacing().sleep(kResetFirstPauseMs);
    session.pacing().sleep(kResetSecondPauseMs);
    return reset;
}

const char* factoryResetResultKey(bool reset) {
    return reset ? kResetDone : kResetRefused;
}

const char* factoryResetFollowUpKey(bool reset, bool networkFound, bool deviceFound) {
    if (reset && (!networkFound || !deviceFound))
        return kResetDeviceNotFoundAgain;
    if (!reset && !networkFound)
        return kNoDeviceFound;
    return nullptr;
}

const char* restartResultKey(RestartResult result) {
    switch (result) {
    case RestartResult::Done:
        return kRestartDone;
    case RestartResult::Refused:
        return kRestartRefused;
    case RestartResult::NotBack:
        break;
    }
    return kRestartNotBack;
}

const char* removeFromNetworkQuestionKey() {
    return kRemoveQuestion;
}

bool removeFromNetwork(Session& session, const MacAddress& device) {
    const auto confirm = pushButton(session, device, mme::PushButtonAction::Leave);
    return confirm && confirm->status == 0;
}

const char* removeFromNetworkResultKey(bool removed) {
    return removed ? kRemoved : kRemoveRefused;
}

LedChange switchLedAndWait(Session& session, const MacAddress& device, bool on) {
    const LedChange change = changeLed(session, device, on);
    if (change == LedChange::Done)
        session.pacing().sleep(kConfigRestartMs);
    return change;
}

QosWrite writeQosSettingsAndWait(Session& session, const MacAddress& device, const mme::QosSettings& settings) {
    const QosWrite written = writeQosSettings(session, device, settings);
    if (written == QosWrite::Done)
        session.pacing().sleep(kConfigRestartMs);
    return written;
}

} // namespace zrq406::app
