#include "app/qos_actions.h"

#include "app/session.h"

#include <algorithm>
#include <charconv>

namespace zrq406::app {

QosRead readQosSettings(Session& session, const MacAddress& device) {
    QosRead read;
    if (!session.hasCurrentAdapter())
        return read;
    std::array<std::uint8_t, mme::kQosLength> area{};
    read.result = session.operations().ReadQosBlock(device, area);
    if (read.result == mme::ReadResult::Done)
        read.decoded = mme::decodeQosArea(area);
    return read;
}

QosWrite writeQosSettings(Session& session, const MacAddress& device, const mme::QosSettings& settings) {
    if (!session.hasCurrentAdapter())
        return QosWrite::ReadFailed;
    auto& operations = session.operations();
    mme::ConfigBlock block{};
    if (!operations.ReadConfigBlock(device, block))
        return QosWrite::ReadFailed;
    const auto area = std::span<std::uint8_t>(block).subspan(mme::cfg::kQos, mme::cfg::kQosWidth);
    // Bytes that are not settings of ours (another layout, or a block damaged where no check could see it) are not
    // overwritten with settings that the user based on a reading of them. A never-used area may be filled.
    const bool blank = std::all_of(area.begin(), area.end(), [&](std::uint8_t b) { return b == area[0]; }) &&
                       (area[0] == 0x00 || area[0] == 0xFF);
    if (!blank && mme::decodeQosArea(area).state == mme::QosAreaState::Unset)
        return QosWrite::ForeignArea;
    if (!mme::encodeQosArea(settings, area))
        return QosWrite::Invalid;
    return operations.WriteConfigBlock(false, 0, 0, device, block) ? QosWrite::Done : QosWrite::WriteFailed;
}

std::optional<std::uint16_t> parseQosPort(std::string_view text) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

} // namespace zrq406::app
