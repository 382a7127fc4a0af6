#include "mme/qos_settings.h"

#include "mme/device_operations.h"
#include "mme/mme_frame.h"

#include <algorithm>

namespace zrq406::mme {

static_assert(cfg::kQos == kQosOffset && cfg::kQosWidth == kQosLength);

namespace {

constexpr std::uint8_t kMagicBytes[2] = {'Q', 'S'};

QosPriority priorityOf(std::uint8_t value, bool& repaired) {
    if (isQosPriority(value))
        return static_cast<QosPriority>(value);
    repaired = true;
    return QosPriority::Default;
}

bool storable(const QosSettings& s) {
    if (s.macRules.size() > qos::kMaxRules || s.portRules.size() > qos::kMaxRules)
        return false;
    auto valid = [](QosPriority p) { return isQosPriority(static_cast<std::uint8_t>(p)); };
    return std::all_of(s.vlanMap.begin(), s.vlanMap.end(), valid) &&
           std::all_of(s.tosMap.begin(), s.tosMap.end(), valid) &&
           std::all_of(s.macRules.begin(), s.macRules.end(), [&](const QosMacRule& r) { return valid(r.priority); }) &&
           std::all_of(s.portRules.begin(), s.portRules.end(),
                       [&](const QosPortRule& r) { return r.port != 0 && valid(r.priority); });
}

} // namespace

bool isQosPriority(std::uint8_t value) {
    return value < kQosPriorityCount;
}

QosSettings QosSettings::defaults() {
    using P = QosPriority;
    QosSettings s;
    s.vlanMap = {P::Cap1, P::Cap0, P::Cap0, P::Cap1, P::Cap2, P::Cap2, P::Cap3, P::Cap3};
    s.tosMap = s.vlanMap;
    return s;
}

QosDecoded decodeQosArea(std::span<const std::uint8_t> area) {
    QosDecoded decoded{QosSettings::defaults(), QosAreaState::Unset};
    if (area.size() < cfg::kQosWidth || area[qos::kMagic] != kMagicBytes[0] ||
        area[qos::kMagic + 1] != kMagicBytes[1] || area[qos::kVersion] != qos::kFormatVersion)
        return decoded;
    bool repaired = false;
    QosSettings& s = decoded.settings;
    s.vlanEnabled = (area[qos::kFlags] & qos::kVlanOn) != 0;
    s.tosEnabled = (area[qos::kFlags] & qos::kTosOn) != 0;
    for (std::size_t i = 0; i < 8; ++i) {
        s.vlanMap[i] = priorityOf(area[qos::kVlanMap + i], repaired);
        s.tosMap[i] = priorityOf(area[qos::kTosMap + i], repaired);
    }
    const int macCount = area[qos::kMacCount];
    const int portCount = area[qos::kPortCount];
    repaired |= macCount > qos::kMaxRules || portCount > qos::kMaxRules;
    for (int i = 0; i < std::min(macCount, qos::kMaxRules); ++i) {
        const std::size_t at = qos::kMacRules + static_cast<std::size_t>(i) * qos::kMacRuleSize;
        QosMacRule rule;
        std::copy_n(area.begin() + static_cast<std::ptrdiff_t>(at), rule.mac.bytes.size(), rule.mac.bytes.begin());
        rule.priority = priorityOf(area[at + 6], repaired);
        s.macRules.push_back(rule);
    }
    for (int i = 0; i < std::min(portCount, qos::kMaxRules); ++i) {
        const std::size_t at = qos::kPortRules + static_cast<std::size_t>(i) * qos::kPortRuleSize;
        QosPortRule rule;
        rule.port = getU16le(area, at);
        rule.priority = priorityOf(area[at + 2], repaired);
        // Port 0 names no traffic: such a rule is left out.
        if (rule.port == 0) {
            repaired = true;
            continue;
        }
        s.portRules.push_back(rule);
    }
    decoded.state = repaired ? QosAreaState::Repaired : QosAreaState::Valid;
    return decoded;
}

bool encodeQosArea(const QosSettings& s, std::span<std::uint8_t> area) {
    if (area.size() < cfg::kQosWidth || !storable(s))
        return false;
    // Flag bits of a later layout survive a write by this one, unless the area did not hold this layout at all.
    const bool ours = decodeQosArea(area).state != QosAreaState::Unset;
    const std::uint8_t otherFlags = ours ? area[qos::kFlags] & ~(qos::kVlanOn | qos::kTosOn) : 0;
    area[qos::kMagic] = kMagicBytes[0];
    area[qos::kMagic + 1] = kMagicBytes[1];
    area[qos::kVersion] = qos::kFormatVersion;
    area[qos::kFlags] =
        static_cast<std::uint8_t>(otherFlags | (s.vlanEnabled ? qos::kVlanOn : 0) | (s.tosEnabled ? qos::kTosOn : 0));
    for (std::size_t i = 0; i < 8; ++i) {
        area[qos::kVlanMap + i] = static_cast<std::uint8_t>(s.vlanMap[i]);
        area[qos::kTosMap + i] = static_cast<std::uint8_t>(s.tosMap[i]);
    }
    area[qos::kMacCount] = static_cast<std::uint8_t>(s.macRules.size());
    area[qos::kPortCount] = static_cast<std::uint8_t>(s.portRules.size());
    std::fill(area.begin() + qos::kMacRules, area.begin() + qos::kEnd, std::uint8_t{0});
    for (std::size_t i = 0; i < s.macRules.size(); ++i) {
        const std::size_t at = qos::kMacRules + i * qos::kMacRuleSize;
        std::copy(s.macRules[i].mac.bytes.begin(), s.macRules[i].mac.bytes.end(),
                  area.begin() + static_cast<std::ptrdiff_t>(at));
        area[at + 6] = static_cast<std::uint8_t>(s.macRules[i].priority);
    }
    for (std::size_t i = 0; i < s.portRules.size(); ++i) {
        const std::size_t at = qos::kPortRules + i * qos::kPortRuleSize;
        putU16le(area, at, s.portRules[i].port);
        area[at + 2] = static_cast<std::uint8_t>(s.portRules[i].priority);
    }
    return true;
}

} // namespace zrq406::mme
