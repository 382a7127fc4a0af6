#pragma once

#include "mme/device_operations.h"
#include "mme/qos_settings.h"
#include "platform/mac_address.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace zrq406::app {

class Session;

struct QosRead {
    mme::ReadResult result = mme::ReadResult::NoAnswer;
    // The device's settings when the read was Done.
    mme::QosDecoded decoded;
};
// Reads a device's priority settings (the 484 bytes at offset 524 of its configuration block, in one exchange).
QosRead readQosSettings(Session& session, const MacAddress& device);

enum class QosWrite {
    Done,       // the block with the new settings was written and committed
    ReadFailed, // the configuration block could not be read; nothing was written
    Invalid,    // the settings cannot be stored (too many rules, port 0); nothing was written
    ForeignArea, // the block's settings area holds neither settings of this layout nor nothing; nothing was written
    WriteFailed // the device did not confirm the write or its commit
};
// Rewrites a device's priority settings: reads its whole configuration block, replaces only the settings' bytes
// (keeping their reserved bytes), writes the block back and commits it.
QosWrite writeQosSettings(Session& session, const MacAddress& device, const mme::QosSettings& settings);

// A destination port as typed: a decimal number from 1 to 65535 and nothing else.
std::optional<std::uint16_t> parseQosPort(std::string_view text);

} // namespace zrq406::app
