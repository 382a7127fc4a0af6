#include "sim/firmware_image.h"

#include "mme/checksum.h"
#include "mme/mme_frame.h"
#include "platform/text_field.h"

#include <algorithm>
#include <cstring>

namespace zrq406::sim {

std::vector<std::uint8_t> makeFirmwareImage(std::string_view version, std::size_t totalLength) {
    const std::size_t length = std::clamp(totalLength, fw::kHeaderLength, fw::kMaxLength);
    std::vector<std::uint8_t> image(length, 0);
    std::memcpy(image.data() + fw::kMagic, fw::kMagicText, sizeof fw::kMagicText);
    mme::putU32le(image, fw::kLength, static_cast<std::uint32_t>(length));
    copyToField(reinterpret_cast<char*>(image.data() + fw::kVersion), fw::kVersionWidth, version);
    // An xorshift stream seeded from the version, so that images of different versions differ throughout.
    std::uint32_t state = 2166136261u;
    for (const char c : version)
        state = (state ^ static_cast<std::uint8_t>(c)) * 16777619u;
    if (state == 0)
        state = 1;
    for (std::size_t i = fw::kHeaderLength; i < length; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        image[i] = static_cast<std::uint8_t>(state);
    }
    mme::putU32le(image, fw::kChecksum, mme::blockChecksum(image));
    return image;
}

std::optional<FirmwareIdentity> firmwareImageIdentity(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < fw::kHeaderLength || bytes.size() > fw::kMaxLength)
        return std::nullopt;
    if (!std::equal(std::begin(fw::kMagicText), std::end(fw::kMagicText), bytes.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
        return std::nullopt;
    const std::uint32_t length = mme::getU32le(bytes, fw::kLength);
    if (length != bytes.size())
        return std::nullopt;
    std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
    const std::uint32_t stored = mme::getU32le(copy, fw::kChecksum);
    mme::putU32le(copy, fw::kChecksum, 0);
    if (mme::blockChecksum(copy) != stored)
        return std::nullopt;
    auto version = mme::ByteReader(bytes).terminatedText(fw::kVersion, fw::kVersionWidth);
    // Version texts are printable ASCII, as the devices report them in their answers.
    if (!version || version->empty() ||
        !std::all_of(version->begin(), version->end(), [](char c) { return c >= 0x20 && c <= 0x7E; }))
        return std::nullopt;
    return FirmwareIdentity{std::move(*version), length, stored};
}

std::optional<std::string> firmwareImageVersion(std::span<const std::uint8_t> bytes) {
    auto identity = firmwareImageIdentity(bytes);
    if (!identity)
        return std::nullopt;
    return std::move(identity->version);
}

} // namespace zrq406::sim
