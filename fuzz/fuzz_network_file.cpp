// Network descriptions of the simulator with any content.
#include "sim/network_file.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    (void)zrq406::sim::NetworkFile::parse(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz", error);
    return 0;
}
