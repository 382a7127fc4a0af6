#pragma once

#include "platform/mac_address.h"

#include <chrono>
#include <cstddef>
#include <ctime>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace zrq406::app {

struct DeviceSighting;

// A command the monitor takes from the broker: an adapter's LEDs on or off.
struct MonitorCommand {
    MacAddress device;
    bool ledOn = false;
};

enum class CommandCheck {
    Accepted,
    NotACommand,   // the topic is none of the monitor's command topics
    UnknownDevice, // the MAC is no adapter of the last scan
    BadPayload,    // neither ON nor OFF
    Retained       // a retained message is an old command, not one given now
};

struct CheckedCommand {
    CommandCheck check = CommandCheck::NotACommand;
    MonitorCommand command;
    // For the log: what was wrong, with the topic's and payload's control characters left out.
    std::string reason;
};

// Checks a message on a command topic: <prefix>/<12 lowercase hex digits>/led/set, the MAC one of `known`, the
// payload ON or OFF. Anything else is refused and touches no device.
CheckedCommand checkCommand(const std::string& mqttPrefix, std::string_view topic, std::string_view payload,
                            bool retained, const std::set<MacAddress>& known);

// The commands waiting for the one that runs: a short queue, so that a flood of commands cannot keep the devices
// busy for long; the rest are refused.
class CommandQueue {
public:
    static constexpr std::size_t kCapacity = 4;
    // False (and nothing queued) when the queue is full.
    bool push(const MonitorCommand& command);
    std::optional<MonitorCommand> pop();
    bool empty() const { return m_commands.empty(); }
    std::size_t size() const { return m_commands.size(); }

private:
    std::deque<MonitorCommand> m_commands;
};

// The waits between attempts to reach the broker: 1 s, doubling to 60 s; a connection starts it again.
class Backoff {
public:
    static constexpr std::chrono::seconds kFirst{1};
    static constexpr std::chrono::seconds kLongest{60};
    // The wait before the next attempt.
    std::chrono::seconds next();
    void reset() { m_next = kFirst; }

private:
    std::chrono::seconds m_next = kFirst;
};

// Which adapters of the history the monitor still shows and which it removes: those last seen more than
// `forgetAfterDays` before `now` are forgotten.
struct ForgetSplit {
    std::vector<MacAddress> kept;
    std::vector<MacAddress> forgotten;
};
ForgetSplit splitForgotten(const std::vector<DeviceSighting>& sightings, std::time_t now, int forgetAfterDays);

} // namespace zrq406::app
