#pragma once

#include "mme/config_block.h"
#include "platform/mac_address.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zrq406::mme {

// The priority settings that the QoS page edits: 484 bytes of the configuration block from offset 524. Their
// layout is ours (docs/qos-settings.md); a block that never held them reads as the defaults.
namespace cfg {
constexpr std::size_t kQos = 524;
constexpr std::size_t kQosWidth = 484;
} // namespace cfg

namespace qos {
constexpr std::size_t kMagic = 0;      // 2: 'Q', 'S'
constexpr std::size_t kVersion = 2;    // 1: kFormatVersion
constexpr std::size_t kFlags = 3;      // 1: kVlanOn | kTosOn; other bits kept as read
constexpr std::size_t kVlanMap = 4;    // 8: priority of VLAN user priority 0..7
constexpr std::size_t kTosMap = 12;    // 8: priority of IP precedence (TOS bits 7..5) 0..7
constexpr std::size_t kMacCount = 20;  // 1: MAC rules in use, 0..kMaxRules
constexpr std::size_t kPortCount = 21; // 1: port rules in use, 0..kMaxRules
constexpr std::size_t kMacRules = 24;  // kMaxRules x 8: MAC (6), priority (1), zero (1)
constexpr std::size_t kMacRuleSize = 8;
constexpr std::size_t kPortRules = 88; // kMaxRules x 4: port (u16 LE), priority (1), zero (1)
constexpr std::size_t kPortRuleSize = 4;
constexpr std::size_t kEnd = 120; // the rest is reserved and kept as read
constexpr std::uint8_t kFormatVersion = 1;
constexpr std::uint8_t kVlanOn = 0x01;
constexpr std::uint8_t kTosOn = 0x02;
constexpr int kMaxRules = 8;
static_assert(kPortRules + kMaxRules * kPortRuleSize == kEnd && kEnd <= cfg::kQosWidth);
} // namespace qos

// A HomePlug AV channel access priority, or the device's own choice by traffic class. The values are the
// bytes stored, and the order of the language file's Priority/Value1 .. Value5.
enum class QosPriority : std::uint8_t { Default = 0, Cap0 = 1, Cap1 = 2, Cap2 = 3, Cap3 = 4 };
constexpr int kQosPriorityCount = 5;

struct QosMacRule {
    MacAddress mac;
    QosPriority priority = QosPriority::Default;
    bool operator==(const QosMacRule&) const = default;
};

struct QosPortRule {
    std::uint16_t port = 0; // 1..65535
    QosPriority priority = QosPriority::Default;
    bool operator==(const QosPortRule&) const = default;
};

struct QosSettings {
    bool vlanEnabled = false;
    bool tosEnabled = false;
    std::array<QosPriority, 8> vlanMap{};
    std::array<QosPriority, 8> tosMap{};
    std::vector<QosMacRule> macRules;   // at most qos::kMaxRules, by destination MAC address
    std::vector<QosPortRule> portRules; // at most qos::kMaxRules, by destination port

    // Both maps off, each prefilled with the usual 802.1D mapping (1, 2 -> CAP 0; 0, 3 -> CAP 1; 4, 5 -> CAP 2;
    // 6, 7 -> CAP 3), no rules.
    static QosSettings defaults();
    bool operator==(const QosSettings&) const = default;
};

enum class QosAreaState {
    Valid,   // the area holds settings of this layout
    Unset,   // no settings of this layout (never written, or another version): the defaults
    Repaired // settings whose values were out of range: those values read as Default, or were left out
};

struct QosDecoded {
    QosSettings settings;
    QosAreaState state = QosAreaState::Unset;
};

// Reads the settings from an area of the configuration block; never reads past `area`.
QosDecoded decodeQosArea(std::span<const std::uint8_t> area);
// Writes the settings into an area, keeping its reserved bytes and flag bits. False, with nothing written, when
// the area is shorter than cfg::kQosWidth or the settings cannot be stored (more than qos::kMaxRules rules of a
// kind, a port 0, a priority outside the five).
bool encodeQosArea(const QosSettings& settings, std::span<std::uint8_t> area);
// Whether a byte is one of the five priorities.
bool isQosPriority(std::uint8_t value);

} // namespace zrq406::mme
