#include "mme/upgrade_file.h"

#include "fuzz/entries/entries.h"

#include <string>

namespace zrq406::fuzz {

void upgradeFile(std::span<const std::uint8_t> data) {
    std::string error;
    (void)mme::parseUpgradeFile(data, "TALVERN", "ZRQ406", error);
}

} // namespace zrq406::fuzz
