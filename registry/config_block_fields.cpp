#include "registry/config_block_fields.h"

#include "platform/text_field.h"

#include <algorithm>
#include <string>

namespace zrq406::config_block {

bool ledsOff(std::span<const std::uint8_t> block) {
    return std::all_of(ledOffBytes.begin(), ledOffBytes.end(),
                       [&](std::size_t at) { return at < block.size() && block[at] == 0xFF; });
}

bool isOwnModel(std::span<const std::uint8_t> block) {
    if (block.size() < productOffset + productWidth)
        return false;
    const std::string product = fieldText(reinterpret_cast<const char*>(block.data() + productOffset), productWidth);
    return product.find("TALVERN ZRQ406") != std::string::npos;
}

std::optional<bool> hasNetworkKey(std::span<const std::uint8_t> block, const NetworkKey& key) {
    if (block.size() < nmkOffset + key.size())
        return std::nullopt;
    return std::equal(key.begin(), key.end(), block.begin() + nmkOffset);
}

} // namespace zrq406::config_block
