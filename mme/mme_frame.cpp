#include "mme/mme_frame.h"

#include <algorithm>
#include <cstring>

namespace zrq406::mme {

std::optional<std::uint8_t> ByteReader::u8(std::size_t offset) const {
    if (!has(offset, 1))
        return std::nullopt;
    return m_bytes[offset];
}

std::optional<std::uint16_t> ByteReader::u16le(std::size_t offset) const {
    if (!has(offset, 2))
        return std::nullopt;
    return getU16le(m_bytes, offset);
}

std::optional<std::uint16_t> ByteReader::u16be(std::size_t offset) const {
    if (!has(offset, 2))
        return std::nullopt;
    return static_cast<std::uint16_t>(m_bytes[offset] << 8 | m_bytes[offset + 1]);
}

std::optional<std::uint32_t> ByteReader::u32le(std::size_t offset) const {
    if (!has(offset, 4))
        return std::nullopt;
    return getU32le(m_bytes, offset);
}

std::optional<std::uint64_t> ByteReader::u64le(std::size_t offset) const {
    if (!has(offset, 8))
        return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i)
        value |= std::uint64_t{m_bytes[offset + i]} << (8 * i);
    return value;
}

std::optional<MacAddress> ByteReader::mac(std::size_t offset) const {
    if (!has(offset, 6))
        return std::nullopt;
    MacAddress mac;
    std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(offset), 6, mac.bytes.begin());
    return mac;
}

std::optional<std::span<const std::uint8_t>> ByteReader::bytes(std::size_t offset, std::size_t count) const {
    if (!has(offset, count))
        return std::nullopt;
    return m_bytes.subspan(offset, count);
}

std::optional<std::string> ByteReader::terminatedText(std::size_t offset, std::size_t maxBytes) const {
    if (offset >= m_bytes.size())
        return std::nullopt;
    const std::size_t room = std::min(maxBytes, m_bytes.size() - offset);
    const auto* start = m_bytes.data() + offset;
    const void* nul = std::memchr(start, 0, room);
    if (nul == nullptr)
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(start),
                       static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - start));
}

std::optional<std::string> ByteReader::paddedText(std::size_t offset, std::size_t width) const {
    if (!has(offset, width))
        return std::nullopt;
    const auto* start = m_bytes.data() + offset;
    const void* nul = std::memchr(start, 0, width);
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - start) : width;
    return std::string(reinterpret_cast<const char*>(start), length);
}

void putU16le(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void putU32le(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putU64le(std::span<std::uint8_t> bytes, std::size_t offset, std::uint64_t value) {
    for (std::size_t i = 0; i < 8; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint16_t getU16le(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::uint32_t getU32le(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 | static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

} // namespace zrq406::mme
