#pragma once

#include <cstdint>
#include <span>

// The entries of the fuzz targets into the parsers of outside input, one per target. The libFuzzer targets call
// them, and the corpus replay test feeds them every input kept under fuzz/corpus/<target>/ and
// fuzz/crashes/<target>/, so an input that once broke a parser keeps being tried by the normal tests.
namespace zrq406::fuzz {

// Every confirmation parser and the matcher over one received frame.
void confirmations(std::span<const std::uint8_t> data);
// An upgrade file as a user might pick it.
void upgradeFile(std::span<const std::uint8_t> data);
// devices.dat with any content.
void historyFile(std::span<const std::uint8_t> data);
// The link history database as another program (or a damaged disk) left it.
void linkHistoryFile(std::span<const std::uint8_t> data);
// A network description of the simulator.
void networkFile(std::span<const std::uint8_t> data);
// A language file, queried as the programs query it.
void languageFile(std::span<const std::uint8_t> data);
// Texts of devices and files (version texts, names) through the outputs of the programs.
void deviceTexts(std::span<const std::uint8_t> data);

} // namespace zrq406::fuzz
