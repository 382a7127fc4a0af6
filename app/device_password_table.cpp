#include "app/device_password_table.h"

#include "platform/text_field.h"

#include <algorithm>

namespace zrq406::app {

void DevicePasswordTable::remember(std::string_view macText, std::string_view password) {
    const std::string mac(truncateUtf8(macText, sizeof(Entry::mac) - 1));
    int at = 0;
    while (at < m_count && fieldText(m_entries[at].mac) != mac)
        ++at;
    if (at == m_count) {
        if (m_count == capacity) {
            std::move(m_entries + 1, m_entries + capacity, m_entries);
            at = capacity - 1;
        } else {
            ++m_count;
        }
    }
    copyToField(m_entries[at].mac, mac);
    copyToField(m_entries[at].password, password);
}

std::optional<std::string> DevicePasswordTable::find(std::string_view macText) const {
    for (int i = 0; i < m_count; ++i)
        if (fieldText(m_entries[i].mac) == macText)
            return fieldText(m_entries[i].password);
    return std::nullopt;
}

} // namespace zrq406::app
