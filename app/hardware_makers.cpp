#include "app/hardware_makers.h"

#include "platform/regular_file.h"

#include <string_view>
#include <vector>

namespace zrq406::app {

namespace {

// The list is some 3 MB with about 35 000 assignments; anything far larger is not it.
constexpr std::size_t kLargestList = 32u * 1024 * 1024;
constexpr std::size_t kMostAssignments = 200000;
constexpr std::size_t kLongestMaker = 120;

// The fields of one CSV line: separated by commas, a field in double quotes may hold commas and "" for a quote.
// Nothing for a line whose quotes do not close.
std::optional<std::vector<std::string>> csvFields(std::string_view line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    if (quoted)
        return std::nullopt;
    return fields;
}

std::optional<std::uint32_t> prefixOf(std::string_view hex) {
    if (hex.size() != 6)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : hex) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

// The maker's name as shown: spaces at either end dropped, control characters left out, kept to a sane length.
std::string makerText(std::string_view name) {
    std::string text;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)
            text += c;
    }
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
    if (text.size() > kLongestMaker) {
        text.resize(kLongestMaker);
        // Not cut inside a UTF-8 sequence.
        while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80)
            text.pop_back();
        if (!text.empty() && static_cast<unsigned char>(text.back()) >= 0xC0)
            text.pop_back();
    }
    return text;
}

} // namespace

HardwareMakers::HardwareMakers(std::filesystem::path list) : m_list(std::move(list)) {}

HardwareMakers& HardwareMakers::system() {
    static HardwareMakers makers;
    return makers;
}

void HardwareMakers::load() {
    const FileReadResult read = readRegularFile(m_list, kLargestList);
    if (!read)
        return;
    std::string_view rest = read.content;
    while (!rest.empty() && m_makers.size() < kMostAssignments) {
        const auto end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        // Registry, assignment, organisation name, address: only the large assignments name three bytes.
        const auto fields = csvFields(line);
        if (!fields || fields->size() < 3 || (*fields)[0] != "MA-L")
            continue;
        const auto prefix = prefixOf((*fields)[1]);
        std::string maker = makerText((*fields)[2]);
        if (prefix && !maker.empty())
            m_makers.emplace(*prefix, std::move(maker));
    }
}

std::optional<std::string> HardwareMakers::makerOf(const MacAddress& mac) {
    std::call_once(m_loaded, [this] { load(); });
    const std::uint32_t prefix =
        static_cast<std::uint32_t>(mac.bytes[0]) << 16 | static_cast<std::uint32_t>(mac.bytes[1]) << 8 | mac.bytes[2];
    const auto it = m_makers.find(prefix);
    if (it == m_makers.end())
        return std::nullopt;
    return it->second;
}

} // namespace zrq406::app
