// Upgrade files as a user might pick them: any bytes.
#include "mme/upgrade_file.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    (void)zrq406::mme::parseUpgradeFile(std::span<const std::uint8_t>(data, size), "TALVERN", "ZRQ406", error);
    return 0;
}
