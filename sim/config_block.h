#pragma once

#include "mme/config_block.h"
#include "mme/key_derivation.h"
#include "platform/mac_address.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zrq406::sim {

namespace cfg = mme::cfg;
using mme::configBlockLength;
using mme::configBlockValid;
using mme::sealConfigBlock;

// The length of a new device's configuration block.
constexpr std::size_t kTypicalConfigLength = 8192;

// What makeConfigBlock puts into a new block, besides the default priority settings at offset 524; everything
// else is zero.
struct ConfigBlockFields {
    MacAddress mac;
    std::array<std::uint8_t, cfg::kIdentityWidth> identity{};
    std::string hfid;
    mme::Key nmk = mme::kDefaultNmk;
    std::string product = "TALVERN ZRQ406-CE-12";
    bool ledOn = true;
    std::size_t length = kTypicalConfigLength; // kept within cfg::kMinLength..cfg::kMaxLength
};

// The device text that a device's block carries at offset 36 from the factory.
std::string factoryDeviceText(const MacAddress& mac);
// A valid configuration block of exactly `fields.length` bytes, checksum in place.
std::vector<std::uint8_t> makeConfigBlock(const ConfigBlockFields& fields);

} // namespace zrq406::sim
