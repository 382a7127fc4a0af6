#include "mme/firmware_image.h"

#include "mme/checksum.h"
#include "mme/mme_frame.h"

#include <vector>

namespace zrq406::mme {

bool firmwareImageValid(std::span<const std::uint8_t> image) {
    if (image.size() < firmware_header::kSize || getU32le(image, firmware_header::kLength) != image.size())
        return false;
    std::vector<std::uint8_t> copy(image.begin(), image.end());
    const std::uint32_t stored = getU32le(copy, firmware_header::kChecksum);
    putU32le(copy, firmware_header::kChecksum, 0);
    return blockChecksum(copy) == stored;
}

} // namespace zrq406::mme
