// The link history database with any content.
#include "fuzz/entries/entries.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zrq406::fuzz::linkHistoryFile(std::span<const std::uint8_t>(data, size));
    return 0;
}
