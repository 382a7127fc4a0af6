#include "mme/checksum.h"

namespace zrq406::mme {

std::uint32_t blockChecksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    const std::size_t words = bytes.size() / 4;
    for (std::size_t i = 0; i < words; ++i) {
        const std::size_t at = i * 4;
        sum ^= static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
               static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
    }
    return ~sum;
}

std::uint32_t fileChecksum(std::span<const std::uint8_t> image) {
    // Stored files carry this exact sum: the window advances by one byte, not two, and an odd length adds the
    // byte at n / 2, not the last one.
    std::uint32_t sum = 0;
    const std::size_t half = image.size() / 2;
    for (std::size_t i = 0; i < half; ++i)
        sum += static_cast<std::uint32_t>(image[i]) | static_cast<std::uint32_t>(image[i + 1]) << 8;
    if (image.size() % 2 != 0)
        sum += image[half];
    // The fold shifts with sign propagation: a sum with its top bit set keeps folding through the high ones.
    auto carry = [](std::uint32_t s) { return static_cast<std::uint32_t>(static_cast<std::int32_t>(s) >> 16); };
    while (carry(sum) != 0)
        sum = (sum & 0xFFFF) + carry(sum);
    return ~sum;
}

} // namespace zrq406::mme
