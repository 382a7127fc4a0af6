#include "registry/history_record.h"

#include <cstring>

namespace zrq406 {

void HistoryTable::clear() {
    std::memset(records, 0, sizeof records);
    inUseCount = 0;
}

} // namespace zrq406
