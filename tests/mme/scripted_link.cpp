#include "scripted_link.h"

#include <algorithm>
#include <cstring>

namespace zrq406::test {

mme::Frame confirmTo(const MacAddress& from, mme::MmType request, std::size_t length, const MacAddress& to) {
    return mme::makeFrame(std::max<std::size_t>(length, 60), to, from, mme::confirmationOf(request));
}

mme::Frame versionConfirm(const MacAddress& from, const std::string& version, std::uint8_t status,
                          const MacAddress& to) {
    auto f = confirmTo(from, mme::MmType::SoftwareVersion, 24 + version.size(), to);
    f[20] = status;
    f[22] = static_cast<std::uint8_t>(version.size() + 1);
    std::memcpy(f.data() + 23, version.data(), version.size());
    return f;
}

mme::Frame attributesConfirm(const MacAddress& from, const std::string& platform) {
    auto f = confirmTo(from, mme::MmType::Attributes, 60);
    std::memcpy(f.data() + 29, platform.data(), std::min<std::size_t>(platform.size(), 17));
    return f;
}

mme::Frame networkInfoConfirm(const MacAddress& from, const std::vector<ScriptStation>& stations,
                              std::uint8_t networks) {
    auto f = confirmTo(from, mme::MmType::NetworkInfo, 39 + 15 * stations.size());
    f[20] = networks;
    for (std::size_t i = 0; i < 7; ++i)
        f[21 + i] = static_cast<std::uint8_t>(0xA0 + i);
    f[28] = 5; // SNID
    f[29] = 1; // TEI of the answering device
    std::copy(from.bytes.begin(), from.bytes.end(), f.begin() + 31);
    f[37] = 1;
    f[38] = static_cast<std::uint8_t>(stations.size());
    for (std::size_t i = 0; i < stations.size(); ++i) {
        const std::size_t at = 39 + 15 * i;
        std::copy(stations[i].mac.bytes.begin(), stations[i].mac.bytes.end(), f.begin() + static_cast<long>(at));
        f[at + 6] = static_cast<std::uint8_t>(2 + i);
        std::copy(stations[i].mac.bytes.begin(), stations[i].mac.bytes.end(), f.begin() + static_cast<long>(at + 7));
        f[at + 13] = stations[i].rate;
        f[at + 14] = stations[i].rate;
    }
    return f;
}

mme::Frame statusConfirm(const MacAddress& from, mme::MmType request, std::uint8_t status) {
    auto f = confirmTo(from, request, 60);
    f[20] = status;
    return f;
}

MacAddress destinationOf(const mme::Frame& frame) {
    MacAddress mac;
    std::copy_n(frame.begin(), 6, mac.bytes.begin());
    return mac;
}

std::uint16_t typeOf(const mme::Frame& frame) {
    return frame.size() < 17 ? 0 : mme::getU16le(frame, 15);
}

} // namespace zrq406::test
