#include "platform/display_text.h"

#include <cstdint>

namespace zrq406 {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 sequence at `at` and its code point, or 0 when the byte there starts none.
std::size_t sequenceAt(std::string_view text, std::size_t at, char32_t& codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    std::size_t length = 0;
    char32_t value = 0;
    char32_t lowest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1Fu;
        lowest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0Fu;
        lowest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07u;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const std::uint8_t next = byte(at + i);
        if ((next & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (next & 0x3Fu);
    }
    if (value < lowest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    codePoint = value;
    return length;
}

std::string cleaned(std::string_view text, bool controls) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t codePoint = 0;
        const std::size_t length = sequenceAt(text, at, codePoint);
        if (length == 0) {
            out += kReplacement;
            ++at;
            continue;
        }
        const bool control = codePoint < 0x20 || (codePoint >= 0x7F && codePoint < 0xA0);
        if (controls && control)
            out += kReplacement;
        else
            out.append(text.substr(at, length));
        at += length;
    }
    return out;
}

} // namespace

std::string validUtf8(std::string_view text) {
    return cleaned(text, false);
}

std::string terminalText(std::string_view text) {
    return cleaned(text, true);
}

std::string localTimeText(std::time_t when, const char* format) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, format, &local);
    return std::string(text, length);
}

} // namespace zrq406
