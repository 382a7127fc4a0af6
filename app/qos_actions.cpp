#include "app/qos_actions.h"

#include "app/session.h"

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
    if (!mme::encodeQosArea(settings, area))
        return QosWrite::Invalid;
    return operations.WriteConfigBlock(false, 0, 0, device, block) ? QosWrite::Done : QosWrite::WriteFailed;
}

} // namespace zrq406::app
