#include "cli/cli_support.h"
#include "fuzz/entries/entries.h"
#include "platform/display_text.h"
#include "platform/text_field.h"
#include "registry/device_registry.h"
#include "uitext/placeholders.h"

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

namespace zrq406::fuzz {

namespace {

// Well-formed UTF-8, or the fuzzer stops on it.
void expectUtf8(const std::string& text) {
    if (validUtf8(text) != text)
        std::abort();
}

} // namespace

void deviceTexts(std::span<const std::uint8_t> data) {
    // The input is what a device or a file may report as its texts: split at the first zero byte into a firmware
    // version text and a name.
    const std::string all(reinterpret_cast<const char*>(data.data()), data.size());
    const std::size_t split = all.find('\0');
    const std::string firmware = all.substr(0, split);
    const std::string name = split == std::string::npos ? std::string() : all.substr(split + 1);

    expectUtf8(validUtf8(all));
    const std::string shown = terminalText(all);
    expectUtf8(shown);
    for (const unsigned char c : shown)
        if (c < 0x20 || c == 0x7F)
            std::abort();

    // The tables keep whole characters in their fixed fields.
    DeviceRecord record{};
    copyToField(record.firmware, firmware);
    copyToField(record.name, name);
    const std::string kept = fieldText(record.firmware);
    if (kept.size() >= sizeof record.firmware || firmware.compare(0, kept.size(), kept) != 0)
        std::abort();

    // JSON and table output of the command-line tool take any text.
    std::ostringstream out;
    const nlohmann::json device{{"name", fieldText(record.name)}, {"firmware", kept}};
    cli::printJson(out, device);
    const auto parsed = nlohmann::json::parse(out.str(), nullptr, false);
    if (parsed.is_discarded())
        std::abort();
    std::ostringstream table;
    cli::printTable(table, {"Name", "Firmware"}, {{fieldText(record.name), kept}});
    for (const unsigned char c : table.str())
        if ((c < 0x20 && c != '\n') || c == 0x7F)
            std::abort();

    // Texts put into language texts as values stay values.
    const std::string message = fillPlaceholders("Reset %s? 100%", {name});
    if (message.compare(0, 6, "Reset ") != 0 || message.size() != 6 + name.size() + 6)
        std::abort();
}

} // namespace zrq406::fuzz
