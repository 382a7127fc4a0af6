#include "utility/qos_page.h"

#include "utility/main_dialog.h"

namespace zrq406::utility {

CQoSPage::CQoSPage(CHomePlugDeviceManagerDlg&) : UtilityPage(nullptr) {
    setObjectName(QStringLiteral("CQoSPage"));
}

} // namespace zrq406::utility
