#include "utility/encryption_page.h"

#include "gui/page_layout.h"
#include "gui/report_list.h"
#include "gui/widget_font.h"
#include "platform/text_field.h"
#include "uitext/load_ui_setting.h"
#include "utility/main_dialog.h"
#include "utility/utility_context.h"

namespace zrq406::utility {

CEncryptionPage::CEncryptionPage(CHomePlugDeviceManagerDlg& main)
    : UtilityPage(nullptr), m_main(main), m_context(main.context()) {
    setObjectName(QStringLiteral("CEncryptionPage"));
    PageLayout layout(m_context.texts, "EncryptionTab");
    m_list = new ReportList(this);
    m_list->setCheckable(true);
    layout.rect(m_list, "listView4", 1053, m_context.texts.LoadPageCaption("ZRQ406", "EncryptionTab", "Text"));
    layout.columns(m_list, "listView4", {"", "DeviceN_s", "MACaddress_s", "Location_s", "password_s", "FWversion_s"});
    ApplyDialogFont(this, m_context.texts);
}

void CEncryptionPage::setActionsEnabled(bool enabled) {
    m_list->setEnabled(enabled);
}

void CEncryptionPage::fillFromScan(const ScanTable& scan, const std::string&) {
    ListRows rows;
    for (int i = 0; i < scan.count; ++i) {
        const DeviceRecord& d = scan.entries[i];
        rows.push_back({"", fieldText(d.name), fieldText(d.mac), fieldText(d.location), fieldText(d.password),
                        fieldText(d.firmware)});
    }
    m_list->setRows(rows);
}

void CEncryptionPage::showNoDevice() {
    m_list->setRows({});
}

ListRows CEncryptionPage::rows() const {
    return m_list->rows();
}

void CEncryptionPage::renameDevice(const std::string& mac, const std::string& name) {
    for (int r = 0; r < m_list->topLevelItemCount(); ++r)
        if (m_list->cell(r, Mac) == mac)
            m_list->setCell(r, Name, name);
}

} // namespace zrq406::utility
