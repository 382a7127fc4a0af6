#include "registry/history_file.h"

#include "platform/atomic_file.h"
#include "platform/regular_file.h"
#include "platform/text_field.h"
#include "uitext/decimal_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

namespace zrq406 {

namespace {

std::int32_t readInt32(const std::uint8_t* bytes) {
    const std::uint32_t value = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
                                std::uint32_t{bytes[3]} << 24;
    return static_cast<std::int32_t>(value);
}

void writeInt32(std::uint8_t* bytes, std::int32_t signedValue) {
    const auto value = static_cast<std::uint32_t>(signedValue);
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
    bytes[2] = static_cast<std::uint8_t>(value >> 16);
    bytes[3] = static_cast<std::uint8_t>(value >> 24);
}

// A text field of the file into the same-sized field of the table: a field without terminator (a damaged or
// foreign file) is cut back to a whole character so that the table only ever holds terminated strings.
template <std::size_t N> void copyStoredField(char (&to)[N], const char (&from)[N]) {
    copyToField(to, fieldText(from));
}

} // namespace

HistoryFileRecord HistoryFile::pack(const HistoryRecord& record) {
    HistoryFileRecord stored;
    std::memset(&stored, 0, sizeof stored);
    // Fields are copied whole, as they lie in memory.
    std::memcpy(stored.mac, record.mac, sizeof stored.mac);
    std::memcpy(stored.name, record.name, sizeof stored.name);
    std::memcpy(stored.password, record.password, sizeof stored.password);
    std::memcpy(stored.led, record.led, sizeof stored.led);
    std::memcpy(stored.lastSeen, record.lastSeen, sizeof stored.lastSeen);
    std::memcpy(stored.firmware, record.firmware, sizeof stored.firmware);
    std::memcpy(stored.location, record.location, sizeof stored.location);
    writeInt32(stored.phyRate, decimalValue(fieldText(record.phyRate)));
    return stored;
}

HistoryRecord HistoryFile::unpack(const HistoryFileRecord& stored) {
    HistoryRecord record;
    std::memset(&record, 0, sizeof record);
    copyStoredField(record.mac, stored.mac);
    copyStoredField(record.name, stored.name);
    copyStoredField(record.password, stored.password);
    copyStoredField(record.led, stored.led);
    copyStoredField(record.lastSeen, stored.lastSeen);
    copyStoredField(record.firmware, stored.firmware);
    copyStoredField(record.location, stored.location);
    // "-2147483648" would not fit the 10-byte field; the copy keeps what fits.
    char rate[16];
    (void)std::snprintf(rate, sizeof rate, "%d", static_cast<int>(readInt32(stored.phyRate)));
    copyToField(record.phyRate, rate);
    return record;
}

bool HistoryFile::hasData() const {
    const FileReadResult head = readRegularFileStart(m_path, 4);
    if (!head || head.content.size() != 4)
        return false;
    return readInt32(reinterpret_cast<const std::uint8_t*>(head.content.data())) >= 1;
}

HistoryLoadResult HistoryFile::load(HistoryTable& table) const {
    HistoryLoadResult result;
    // Never more than the table can take, whatever the file claims or holds.
    const FileReadResult read =
        readRegularFileStart(m_path, 4 + sizeof(HistoryFileRecord) * static_cast<std::size_t>(HistoryTable::capacity));
    if (!read) {
        if (read.status != FileReadStatus::Missing)
            result.error = read.error;
        return result;
    }
    result.opened = true;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(read.content.data());
    const std::size_t size = read.content.size();
    if (size >= 4)
        result.storedCount = readInt32(bytes);
    const int wanted = std::clamp(result.storedCount, 0, HistoryTable::capacity);
    for (int i = 0; i < wanted; ++i) {
        const std::size_t at = 4 + sizeof(HistoryFileRecord) * static_cast<std::size_t>(i);
        if (at >= size)
            break;
        HistoryFileRecord stored;
        std::memset(&stored, 0, sizeof stored);
        // A short file ends with its last whole or partial record.
        std::memcpy(&stored, bytes + at, std::min(sizeof stored, size - at));
        table.records[i] = unpack(stored);
        ++result.loaded;
    }
    // The count of records actually read, so that no empty record of a short file is taken for a device.
    table.fileCount = result.loaded;
    return result;
}

FileWriteResult HistoryFile::save(HistoryTable& table, int count) const {
    count = std::clamp(count, 0, HistoryTable::capacity);
    table.fileCount = count;

    std::vector<std::uint8_t> content(4 + sizeof(HistoryFileRecord) * static_cast<std::size_t>(count));
    writeInt32(content.data(), count);
    for (int i = 0; i < count; ++i) {
        const HistoryFileRecord stored = pack(table.records[i]);
        std::memcpy(content.data() + 4 + sizeof stored * static_cast<std::size_t>(i), &stored, sizeof stored);
    }

    std::error_code ec;
    const std::filesystem::path folder = m_path.has_parent_path() ? m_path.parent_path() : ".";
    if (!std::filesystem::is_directory(folder, ec)) {
        std::filesystem::create_directories(folder, ec);
        if (ec)
            return {false, folder.string() + ": cannot be created: " + ec.message()};
    }
    // The file holds device passwords: it is written for its owner only and replaces the old one in one step.
    return writeFileAtomically(m_path, content, FileAccess::OwnerOnly);
}

} // namespace zrq406
