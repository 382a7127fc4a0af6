#include "registry/device_record.h"

#include "platform/text_field.h"

#include <cstring>

namespace zrq406 {

void ScanTable::clear() {
    std::memset(entries, 0, sizeof entries);
    count = 0;
}

bool ScanTable::contains(std::string_view macText) const {
    for (int i = 0; i < count && i < capacity; ++i)
        if (fieldText(entries[i].mac) == macText)
            return true;
    return false;
}

} // namespace zrq406
