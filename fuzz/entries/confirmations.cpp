#include "mme/confirmations.h"

#include "fuzz/entries/entries.h"

namespace zrq406::fuzz {

void confirmations(std::span<const std::uint8_t> frame) {
    using namespace zrq406::mme;
    const MacAddress host{{0x02, 0, 0, 0, 0, 1}};
    (void)matchesConfirmation(frame, 0xA001, &host);
    (void)parseSoftwareVersion(frame);
    (void)parseStatus(frame);
    (void)parseAttributes(frame);
    (void)parseNetworkInfo(frame);
    (void)parseReadModule(frame, frame.empty() ? 0u : frame[0] * 4u);
    (void)parsePushButton(frame);
    (void)parseHosts(frame);
    (void)parseLinkStatistics(frame);
    (void)parseCarrierMap(frame);
}

} // namespace zrq406::fuzz
