#include "tests/support/powerline_answer.h"

#include "link/adapter_link.h"
#include "mme/confirmations.h"
#include "mme/frame_builder.h"
#include "tests/support/interface_subset_backend.h"

#include <algorithm>

namespace zrq406::testsupport {

std::string waitUntilPowerlineAnswers(const std::string& interfaceName, std::chrono::milliseconds bound) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kResend = std::chrono::milliseconds(250);
    link::PacketLibrary library(
        std::make_shared<InterfaceSubsetBackend>(link::makePcapBackend(), std::vector<std::string>{interfaceName}));
    link::AdapterTable table(library, link::LinkMode::Utility);
    if (!table.OpenAdapters() || table.count() != 1)
        return interfaceName + " cannot be opened for raw frames";
    table.setCurrentAdapter(0);
    const MacAddress host = table.record(0).hostMac;
    const mme::Frame request = mme::buildSoftwareVersionRequest(MacAddress::localDevice(), host);
    const std::uint16_t confirmation = mme::confirmationOf(mme::MmType::SoftwareVersion);
    const auto giveUp = Clock::now() + bound;
    std::vector<std::uint8_t> frame;
    while (Clock::now() < giveUp) {
        table.SendFrame(request);
        const auto resendAt = std::min(giveUp, Clock::now() + kResend);
        while (Clock::now() < resendAt) {
            if (table.FetchFrame(frame) > 0) {
                if (mme::matchesConfirmation(frame, confirmation, &host))
                    return {};
                continue;
            }
            table.waitForFrame(resendAt);
        }
    }
    return "no powerline device answered a software version request on " + interfaceName + " within " +
           std::to_string(bound.count()) + " ms";
}

} // namespace zrq406::testsupport
