#pragma once

#include "utility/utility_page.h"

namespace zrq406 {
class HyperlinkLabel;
}

namespace zrq406::utility {

class CHomePlugDeviceManagerDlg;

// The last tab: the program, its version and licence, and where to find help.
class CAboutPage : public UtilityPage {
    Q_OBJECT
public:
    explicit CAboutPage(CHomePlugDeviceManagerDlg& main);

    HyperlinkLabel* link() { return m_link; }

private:
    HyperlinkLabel* m_link = nullptr;
};

} // namespace zrq406::utility
