#include "platform/mac_address.h"

#include "platform/hex_text.h"

#include <cstdio>

namespace zrq406 {

std::string MacAddress::text() const {
    char out[18];
    std::snprintf(out, sizeof out, "%02x:%02x:%02x:%02x:%02x:%02x", bytes[0], bytes[1], bytes[2], bytes[3], bytes[4],
                  bytes[5]);
    return out;
}

MacAddress MacAddress::fromText(std::string_view text) {
    // Nibbles as the devices' tools read them: a character that is no hexadecimal digit stands for 0xFF, and
    // the pair is combined as (high << 4) | low in eight bits.
    int nibbles[12] = {};
    int count = 0;
    for (std::size_t i = 0; i < 17 && i < text.size() && count < 12; ++i) {
        if (text[i] == ':')
            continue;
        const int v = hexDigitValue(text[i]);
        nibbles[count++] = v < 0 ? 0xFF : v;
    }
    MacAddress mac;
    for (std::size_t i = 0; i < 6; ++i)
        mac.bytes[i] = static_cast<std::uint8_t>((nibbles[2 * i] << 4 | nibbles[2 * i + 1]) & 0xFF);
    return mac;
}

std::optional<MacAddress> MacAddress::parse(std::string_view text) {
    if (text.size() != 17)
        return std::nullopt;
    MacAddress mac;
    for (std::size_t i = 0; i < 6; ++i) {
        const std::size_t at = i * 3;
        if (i > 0 && text[at - 1] != ':' && text[at - 1] != '-')
            return std::nullopt;
        const int hi = hexDigitValue(text[at]);
        const int lo = hexDigitValue(text[at + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        mac.bytes[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return mac;
}

bool MacAddress::isZero() const {
    for (auto b : bytes)
        if (b != 0)
            return false;
    return true;
}

} // namespace zrq406
