// Texts that devices and files report, with any bytes, through every output the programs give them.
#include "fuzz/entries/entries.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zrq406::fuzz::deviceTexts(std::span<const std::uint8_t>(data, size));
    return 0;
}
