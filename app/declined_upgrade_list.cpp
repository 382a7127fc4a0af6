#include "app/declined_upgrade_list.h"

#include "platform/text_field.h"

namespace zrq406::app {

bool DeclinedUpgradeList::contains(std::string_view macText) const {
    for (int i = 0; i < m_count; ++i)
        if (fieldText(m_entries[i]) == macText)
            return true;
    return false;
}

bool DeclinedUpgradeList::add(std::string_view macText) {
    if (contains(macText))
        return true;
    if (m_count == capacity)
        return false;
    copyToField(m_entries[m_count++], macText);
    return true;
}

} // namespace zrq406::app
