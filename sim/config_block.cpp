#include "sim/config_block.h"

#include "mme/checksum.h"
#include "mme/mme_frame.h"
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
    putText(block, cfg::kHfid, cfg::kHfidWidth, fields.hfid);
    setConfigNmk(block, fields.nmk);
    setConfigProduct(block, fields.product);
    setConfigLed(block, fields.ledOn);
    sealConfigBlock(block);
    return block;
}

std::size_t configBlockLength(std::span<const std::uint8_t> block) {
    if (block.size() < cfg::kLength + 2)
        return 0;
    return mme::getU16le(block, cfg::kLength);
}

void sealConfigBlock(std::span<std::uint8_t> block) {
    if (block.size() < cfg::kChecksum + 4)
        return;
    const std::size_t length = std::min(configBlockLength(block), block.size());
    mme::putU32le(block, cfg::kChecksum, 0);
    mme::putU32le(block, cfg::kChecksum, mme::blockChecksum(block.first(length)));
}

bool configBlockValid(std::span<const std::uint8_t> block) {
    const std::size_t length = configBlockLength(block);
    if (length < cfg::kMinLength || length > cfg::kMaxLength || length > block.size())
        return false;
    std::vector<std::uint8_t> copy(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(length));
    const std::uint32_t stored = mme::getU32le(copy, cfg::kChecksum);
    mme::putU32le(copy, cfg::kChecksum, 0);
    return mme::blockChecksum(copy) == stored;
}

mme::Key configNmk(std::span<const std::uint8_t> block) {
    mme::Key nmk{};
    std::copy_n(block.begin() + cfg::kNmk, nmk.size(), nmk.begin());
    return nmk;
}

void setConfigNmk(std::span<std::uint8_t> block, const mme::Key& nmk) {
    std::copy(nmk.begin(), nmk.end(), block.begin() + cfg::kNmk);
}

std::string configProduct(std::span<const std::uint8_t> block) {
    return fieldText(reinterpret_cast<const char*>(block.data() + cfg::kProduct), cfg::kProductWidth);
}

void setConfigProduct(std::span<std::uint8_t> block, std::string_view product) {
    putText(block, cfg::kProduct, cfg::kProductWidth, product);
}

bool configHasLeds(std::span<const std::uint8_t> block) {
    return block.size() > cfg::kLedOffsets.back();
}

bool configLedOn(std::span<const std::uint8_t> block) {
    if (!configHasLeds(block))
        return true;
    for (std::size_t i = 0; i < cfg::kLedOffsets.size(); ++i) {
        if (cfg::kLedOffsets[i] == 0x1EFE) // the programs do not look at this one
            continue;
        if (block[cfg::kLedOffsets[i]] != 0xFF)
            return true;
    }
    return false;
}

void setConfigLed(std::span<std::uint8_t> block, bool on) {
    if (!configHasLeds(block))
        return;
    for (std::size_t i = 0; i < cfg::kLedOffsets.size(); ++i)
        block[cfg::kLedOffsets[i]] = on ? cfg::kLedOnValues[i] : 0xFF;
}

} // namespace zrq406::sim
