#include "utility/about_page.h"

#include "utility/main_dialog.h"

namespace zrq406::utility {

CAboutPage::CAboutPage(CHomePlugDeviceManagerDlg&) : UtilityPage(nullptr) {
    setObjectName(QStringLiteral("CAboutPage"));
}

} // namespace zrq406::utility
