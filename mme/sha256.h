#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace zrq406::mme {

// SHA-256 as FIPS 180-2 defines it.
class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256() { reset(); }
    void reset();
    void update(std::span<const std::uint8_t> bytes);
    void update(std::string_view text);
    // Pads, appends the bit count and returns the digest; the object must be reset before reuse.
    Digest finish();

    static Digest digest(std::span<const std::uint8_t> bytes);

private:
    void compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> m_state{};
    std::array<std::uint8_t, 64> m_buffer{};
    std::size_t m_buffered = 0;
    // The message length in bits, as two 32-bit words with carry.
    std::uint32_t m_bitsLow = 0;
    std::uint32_t m_bitsHigh = 0;
};

} // namespace zrq406::mme
