#pragma once

#include "utility/utility_page.h"

namespace zrq406::utility {

class CHomePlugDeviceManagerDlg;

// The last tab: the program, its version and where to find help.
class CAboutPage : public UtilityPage {
    Q_OBJECT
public:
    explicit CAboutPage(CHomePlugDeviceManagerDlg& main);
};

} // namespace zrq406::utility
