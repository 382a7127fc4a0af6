#include "sim/config_block.h"

#include "mme/checksum.h"
#include "mme/mme_frame.h"
#include "mme/qos_settings.h"
#include "platform/text_field.h"

#include <algorithm>

namespace zrq406::sim {

namespace {

void putText(std::span<std::uint8_t> block, std::size_t offset, std::size_t width, std::string_view text) {
    copyToField(reinterpret_cast<char*>(block.data() + offset), width, text);
}

} // namespace

std::string factoryDeviceText(const MacAddress& mac) {
    return "TALVERN ZRQ406 " + mac.text();
}

std::vector<std::uint8_t> makeConfigBlock(const ConfigBlockFields& fields) {
    const std::size_t length = std::clamp(fields.length, cfg::kMinLength, cfg::kMaxLength);
    std::vector<std::uint8_t> block(length, 0);
    mme::putU16le(block, cfg::kLength, static_cast<std::uint16_t>(length));
    std::copy(fields.mac.bytes.begin(), fields.mac.bytes.end(), block.begin() + cfg::kMac);
    std::copy(fields.identity.begin(), fields.identity.end(), block.begin() + cfg::kIdentity);
    putText(block, cfg::kUserData, cfg::kUserDataWidth, fields.hfid);
    mme::setNmk(block, fields.nmk);
    mme::setProductText(block, fields.product);
    mme::setLeds(block, fields.ledOn);
    // Devices leave the factory with the default priority settings in place.
    mme::encodeQosArea(mme::QosSettings::defaults(), std::span<std::uint8_t>(block).subspan(cfg::kQos, cfg::kQosWidth));
    sealConfigBlock(block);
    return block;
}

} // namespace zrq406::sim
