// Every confirmation parser and the matcher over arbitrary received frames.
#include "mme/confirmations.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zrq406::mme;
    const std::span<const std::uint8_t> frame(data, size);
    const zrq406::MacAddress host{{0x02, 0, 0, 0, 0, 1}};
    (void)matchesConfirmation(frame, 0xA001, &host);
    (void)parseSoftwareVersion(frame);
    (void)parseStatus(frame);
    (void)parseAttributes(frame);
    (void)parseNetworkInfo(frame);
    (void)parseReadModule(frame, size > 0 ? data[0] * 4u : 0u);
    return 0;
}
