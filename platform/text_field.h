#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zrq406 {

// Copies `text` into a fixed field of `width` bytes: at most width - 1 bytes, cut back to the start of a UTF-8
// character so that no character is split, then a terminator; the rest of the field is zeroed.
void copyToField(char* field, std::size_t width, std::string_view text);

template <std::size_t N> void copyToField(char (&field)[N], std::string_view text) {
    copyToField(field, N, text);
}

// The longest prefix of `text` of at most `maxBytes` bytes that does not split a UTF-8 character.
std::string_view truncateUtf8(std::string_view text, std::size_t maxBytes);

// `text` without the spaces, tabs and carriage returns at either end.
std::string_view trimmed(std::string_view text);

// The text of a fixed field: up to its first NUL, never past its width.
std::string fieldText(const char* field, std::size_t width);
template <std::size_t N> std::string fieldText(const char (&field)[N]) {
    return fieldText(field, N);
}

} // namespace zrq406
