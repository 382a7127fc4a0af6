#pragma once

#include "mme/frame_builder.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace zrq406::mme {

// The two salts of the HomePlug AV key derivation; they differ only in their last byte.
inline constexpr std::array<std::uint8_t, 8> kDakSalt = {0x08, 0x85, 0x6D, 0xAF, 0x7C, 0xF5, 0x81, 0x85};
inline constexpr std::array<std::uint8_t, 8> kNmkSalt = {0x08, 0x85, 0x6D, 0xAF, 0x7C, 0xF5, 0x81, 0x86};
// The network membership key that the public default network password "HomePlugAV" yields.
inline constexpr Key kDefaultNmk = {0x50, 0xD3, 0xE4, 0x93, 0x3F, 0x85, 0x5B, 0x70,
                                    0x40, 0x78, 0x4D, 0xF8, 0x15, 0xAA, 0x8D, 0xB7};
inline constexpr std::string_view kDefaultNetworkPassword = "HomePlugAV";

// PBKDF1 with SHA-256 and 1000 iterations over password and salt; the key is the first 16 digest bytes.
Key deriveKey(std::string_view password, const std::array<std::uint8_t, 8>& salt);
// The network membership key of a network password.
Key DeriveNmk(std::string_view networkPassword);
// The device access key of a device password.
Key DeriveDak(std::string_view devicePassword);

enum class PasswordProblem {
    None,
    Length,   // not 8 to 64 characters: the first sentence of msg21 followed by msg22
    Character // a character outside 33..126: all of msg21
};
// Checks a network password before its key is derived.
PasswordProblem ValidateNetworkPassword(std::string_view text);
// Whether a device password has the printed form: four groups of four characters "0"-"9" or "A"-"Z",
// joined by "-" (19 characters).
bool isDevicePasswordForm(std::string_view text);

} // namespace zrq406::mme
