#include "platform/text_field.h"

#include <cstring>

namespace zrq406 {

std::string_view truncateUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    std::size_t cut = maxBytes;
    // Step back over continuation bytes (10xxxxxx) so that the cut lands on the first byte of a character.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut);
}

void copyToField(char* field, std::size_t width, std::string_view text) {
    if (width == 0)
        return;
    const auto kept = truncateUtf8(text, width - 1);
    std::memset(field, 0, width);
    std::memcpy(field, kept.data(), kept.size());
}

std::string fieldText(const char* field, std::size_t width) {
    const void* nul = std::memchr(field, 0, width);
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field) : width;
    return std::string(field, length);
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

} // namespace zrq406
