#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zrq406 {

// A 6-byte Ethernet address.
struct MacAddress {
    std::array<std::uint8_t, 6> bytes{};

    static constexpr MacAddress broadcast() { return {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}; }
    // The address on which the device attached to the host's port answers, whatever its own address.
    static constexpr MacAddress localDevice() { return {{0x00, 0xB0, 0x52, 0x00, 0x00, 0x01}}; }

    // Six lowercase two-digit hexadecimal bytes joined by ':' (17 characters).
    [[nodiscard]] std::string text() const;
    // The lenient parse of the stored tables: reads at most 17 characters, skips ':', takes the rest as nibbles
    // in order, high nibble first; a character that is not a hexadecimal digit stands for 0xFF; nothing is
    // reported. Missing characters read as 0.
    static MacAddress fromText(std::string_view text);
    // Strict parse for input typed by a user: "aa:bb:cc:dd:ee:ff" or "aa-bb-...", any case.
    static std::optional<MacAddress> parse(std::string_view text);

    [[nodiscard]] bool isZero() const;
    // A group (multicast or broadcast) address, which many devices answer at once.
    [[nodiscard]] bool isGroup() const { return (bytes[0] & 0x01) != 0; }
    const std::uint8_t* data() const { return bytes.data(); }
    auto operator<=>(const MacAddress&) const = default;
};

} // namespace zrq406
