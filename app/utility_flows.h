#pragma once

#include "app/device_actions.h"
#include "app/device_extras.h"
#include "app/qos_actions.h"

namespace zrq406::app {

class Session;

// A factory reset as the configuration utility makes it: the reset, then the pauses while the device restarts
// before its result is told. True when the device confirmed the reset.
bool factoryResetAndWait(Session& session, const MacAddress& device);
// The message that tells a factory reset's result: msg48 when the device confirmed it, else msg49.
const char* factoryResetResultKey(bool reset);
// The message after the network has been searched again following a factory reset, or nullptr for none: msg59
// when a device that was reset was not found again, msg24 when a device that refused the reset left no network.
const char* factoryResetFollowUpKey(bool reset, bool networkFound, bool deviceFound);

// The message that tells a restart's outcome: msg113 when the device answered again, msg114 when it refused the
// restart, msg115 when it did not answer again.
const char* restartResultKey(RestartResult result);

// Removing a device from its network: the question first (msg116, with the device's name), then its pair button's
// leave, which gives it a random network key. True when the device confirmed the leave.
const char* removeFromNetworkQuestionKey();
bool removeFromNetwork(Session& session, const MacAddress& device);
// The message that tells the leave's outcome: msg117 when the device confirmed it, else msg118.
const char* removeFromNetworkResultKey(bool removed);

// A new LED setting as the utility switches it: changed as changeLed does, then waited for while the device
// restarts with it.
LedChange switchLedAndWait(Session& session, const MacAddress& device, bool on);

// Priority settings as the utility writes them: written as writeQosSettings does, then waited for while the
// device restarts with them.
QosWrite writeQosSettingsAndWait(Session& session, const MacAddress& device, const mme::QosSettings& settings);

} // namespace zrq406::app
