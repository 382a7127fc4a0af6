#include "app/monitor_commands.h"

#include "app/link_history.h"
#include "platform/display_text.h"

#include <algorithm>

namespace zrq406::app {

namespace {

CheckedCommand refused(CommandCheck check, std::string reason) {
    CheckedCommand checked;
    checked.check = check;
    checked.reason = std::move(reason);
    return checked;
}

// At most this much of a topic or payload goes into a log line.
std::string loggable(std::string_view text) {
    constexpr std::size_t kShown = 80;
    std::string shown = terminalText(text.substr(0, kShown));
    if (text.size() > kShown)
        shown += "...";
    return "\"" + shown + "\"";
}

} // namespace

CheckedCommand checkCommand(const std::string& mqttPrefix, std::string_view topic, std::string_view payload,
                            bool retained, const std::set<MacAddress>& known) {
    constexpr std::string_view kSuffix = "/led/set";
    constexpr std::size_t kNode = 12;
    const std::string start = mqttPrefix + "/";
    if (!topic.starts_with(start) || !topic.ends_with(kSuffix) || topic.size() != start.size() + kNode + kSuffix.size())
        return refused(CommandCheck::NotACommand, "not a command topic: " + loggable(topic));
    const std::string_view node = topic.substr(start.size(), kNode);
    if (!std::all_of(node.begin(), node.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }))
        return refused(CommandCheck::NotACommand, "not a command topic: " + loggable(topic));
    std::string text;
    for (std::size_t i = 0; i < kNode; i += 2)
        text += std::string(i == 0 ? "" : ":") + std::string(node.substr(i, 2));
    const MacAddress mac = MacAddress::fromText(text);
    if (retained)
        return refused(CommandCheck::Retained, "a retained command for " + mac.text() + " is an old one; not taken");
    if (known.count(mac) == 0)
        return refused(CommandCheck::UnknownDevice, mac.text() + " is no device of the last scan");
    if (payload != "ON" && payload != "OFF")
        return refused(CommandCheck::BadPayload,
                       "the LED command for " + mac.text() + " is ON or OFF, not " + loggable(payload));
    CheckedCommand checked;
    checked.check = CommandCheck::Accepted;
    checked.command = {mac, payload == "ON"};
    return checked;
}

bool CommandQueue::push(const MonitorCommand& command) {
    if (m_commands.size() >= kCapacity)
        return false;
    m_commands.push_back(command);
    return true;
}

std::optional<MonitorCommand> CommandQueue::pop() {
    if (m_commands.empty())
        return std::nullopt;
    const MonitorCommand command = m_commands.front();
    m_commands.pop_front();
    return command;
}

std::chrono::seconds Backoff::next() {
    const std::chrono::seconds wait = m_next;
    m_next = std::min(m_next * 2, kLongest);
    return wait;
}

ForgetSplit splitForgotten(const std::vector<DeviceSighting>& sightings, std::time_t now, int forgetAfterDays) {
    const std::time_t limit = now - static_cast<std::time_t>(forgetAfterDays) * 24 * 60 * 60;
    ForgetSplit split;
    for (const DeviceSighting& sighting : sightings)
        (sighting.lastSeen < limit ? split.forgotten : split.kept).push_back(sighting.mac);
    return split;
}

} // namespace zrq406::app
