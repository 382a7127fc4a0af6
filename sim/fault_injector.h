#pragma once

#include "mme/mme_frame.h"
#include "sim/network_description.h"

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace zrq406::sim {

// What the faults of a device do to one confirmation.
struct FaultDecision {
    bool drop = false;
    double delayMs = 0;
    int copies = 1;
    std::optional<std::uint8_t> failStatus;
    std::optional<MalformedForm> malformed;
    std::optional<std::size_t> corruptOffset;
    std::vector<std::string> notes; // for the request log
};

// The faults of one device and the counts they are matched against.
class FaultInjector {
public:
    explicit FaultInjector(std::vector<FaultSetting> faults);

    // Counts one request of `type` that the device handles and decides what happens to its confirmation.
    FaultDecision onRequest(mme::MmType type);
    // Counts one firmware block written; returns how long the device stays silent when its power fails now.
    std::optional<double> onFirmwareBlockWritten();

private:
    struct Armed {
        FaultSetting setting;
        std::mt19937 random;
        bool fired = false;
    };

    bool hits(Armed& fault, mme::MmType type, int typeCount, int allCount);

    std::vector<Armed> m_faults;
    std::map<mme::MmType, int> m_counts;
    int m_allCount = 0;
    int m_firmwareBlocks = 0;
};

} // namespace zrq406::sim
