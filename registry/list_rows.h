#pragma once

#include <string>
#include <vector>

namespace zrq406 {

// The rows of a report list as the user sees them: one vector of column texts per row. The GUIs hand their list
// controls' contents over in this form.
//  - network page device list: 0 name, 1 MAC, 2 location, 3 quality, 4 PHY rate, 5 LED, 6 firmware
//  - encryption page device list: 0 check box, 1 name, 2 MAC, 3 location, 4 device password, 5 firmware
//  - Device History list: 0 name, 1 MAC, 2 location, 3 PHY rate, 4 LED, 5 last seen, 6 firmware
using ListRows = std::vector<std::vector<std::string>>;

} // namespace zrq406
