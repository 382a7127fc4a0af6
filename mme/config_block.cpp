#include "mme/config_block.h"

#include "mme/checksum.h"
#include "mme/mme_frame.h"
#include "platform/text_field.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace zrq406::mme {

std::size_t configBlockLength(std::span<const std::uint8_t> block) {
    return block.size() < cfg::kLength + 2 ? 0 : getU16le(block, cfg::kLength);
}

void sealConfigBlock(std::span<std::uint8_t> block) {
    if (block.size() < cfg::kChecksum + 4)
        return;
    const std::size_t length = std::min(configBlockLength(block), block.size());
    putU32le(block, cfg::kChecksum, 0);
    putU32le(block, cfg::kChecksum, blockChecksum(block.first(length)));
}

bool configBlockValid(std::span<const std::uint8_t> block) {
    const std::size_t length = configBlockLength(block);
    if (length < cfg::kMinLength || length > cfg::kMaxLength || length > block.size())
        return false;
    std::vector<std::uint8_t> copy(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(length));
    const std::uint32_t stored = getU32le(copy, cfg::kChecksum);
    putU32le(copy, cfg::kChecksum, 0);
    return blockChecksum(copy) == stored;
}

bool hasLeds(std::span<const std::uint8_t> block) {
    return block.size() > cfg::kLedOffsets.back() && configBlockLength(block) > cfg::kLedOffsets.back();
}

bool ledsOff(std::span<const std::uint8_t> block) {
    if (!hasLeds(block))
        return false;
    for (const std::size_t at : cfg::kLedOffsets)
        if (at != 0x1EFE && block[at] != 0xFF)
            return false;
    return true;
}

void setLeds(std::span<std::uint8_t> block, bool on) {
    if (!hasLeds(block))
        return;
    for (std::size_t i = 0; i < cfg::kLedOffsets.size(); ++i)
        block[cfg::kLedOffsets[i]] = on ? cfg::kLedOn[i] : cfg::kLedOff[i];
}

std::string productText(std::span<const std::uint8_t> block) {
    if (block.size() < cfg::kProduct + cfg::kProductWidth)
        return {};
    return fieldText(reinterpret_cast<const char*>(block.data() + cfg::kProduct), cfg::kProductWidth);
}

void setProductText(std::span<std::uint8_t> block, std::string_view product) {
    if (block.size() >= cfg::kProduct + cfg::kProductWidth)
        copyToField(reinterpret_cast<char*>(block.data() + cfg::kProduct), cfg::kProductWidth, product);
}

Key nmkOf(std::span<const std::uint8_t> block) {
    Key key{};
    if (block.size() >= cfg::kNmk + key.size())
        std::copy_n(block.begin() + cfg::kNmk, key.size(), key.begin());
    return key;
}

void setNmk(std::span<std::uint8_t> block, const Key& nmk) {
    if (block.size() >= cfg::kNmk + nmk.size())
        std::copy(nmk.begin(), nmk.end(), block.begin() + cfg::kNmk);
}

} // namespace zrq406::mme
