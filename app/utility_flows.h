#pragma once

#include "app/device_actions.h"
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

// A new LED setting as the utility switches it: changed as changeLed does, then waited for while the device
// restarts with it.
LedChange switchLedAndWait(Session& session, const MacAddress& device, bool on);

// Priority settings as the utility writes them: written as writeQosSettings does, then waited for while the
// device restarts with them.
QosWrite writeQosSettingsAndWait(Session& session, const MacAddress& device, const mme::QosSettings& settings);

} // namespace zrq406::app
