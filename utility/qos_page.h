#pragma once

#include "utility/utility_page.h"

namespace zrq406::utility {

class CHomePlugDeviceManagerDlg;

// The third tab: the priority settings of a device.
class CQoSPage : public UtilityPage {
    Q_OBJECT
public:
    explicit CQoSPage(CHomePlugDeviceManagerDlg& main);
};

} // namespace zrq406::utility
