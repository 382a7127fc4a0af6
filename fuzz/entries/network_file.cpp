#include "sim/network_file.h"

#include "fuzz/entries/entries.h"

#include <string>
#include <string_view>

namespace zrq406::fuzz {

void networkFile(std::span<const std::uint8_t> data) {
    std::string error;
    (void)sim::NetworkFile::parse(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), "fuzz",
                                  error);
}

} // namespace zrq406::fuzz
