#include "utility/diagnostics_page.h"

#include "gui/page_layout.h"
#include "gui/report_list.h"
#include "gui/widget_font.h"
#include "registry/device_registry.h"
#include "uitext/load_ui_setting.h"
#include "utility/main_dialog.h"
#include "utility/utility_context.h"

namespace zrq406::utility {

CDiagnosticsPage::CDiagnosticsPage(CHomePlugDeviceManagerDlg& main)
    : UtilityPage(nullptr), m_main(main), m_context(main.context()) {
    setObjectName(QStringLiteral("CDiagnosticsPage"));
    PageLayout layout(m_context.texts, "MACConfigTab");
    m_history = new ReportList(this);
    layout.rect(m_history, "listView3", 1059,
                m_context.texts.LoadPageCaption("ZRQ406", "MACConfigTab", "Device_History", "Text"));
    layout.columns(
        m_history, "listView3",
        {"listView3_1", "listView3_2", "listView3_4", "listView3_5", "listView3_9", "listView3_7", "listView3_8"});
    ApplyDialogFont(this, m_context.texts);
}

void CDiagnosticsPage::setActionsEnabled(bool enabled) {
    m_history->setEnabled(enabled);
}

void CDiagnosticsPage::fillSystemInformation() {}

void CDiagnosticsPage::setHistoryRows(const ListRows& rows) {
    m_history->setRows(rows);
    m_historyFilled = true;
}

ListRows CDiagnosticsPage::historyRows() const {
    return m_history->rows();
}

void CDiagnosticsPage::renameDevice(const std::string& mac, const std::string& name) {
    for (int r = 0; r < m_history->topLevelItemCount(); ++r)
        if (m_history->cell(r, 1) == mac)
            m_history->setCell(r, 0, name);
}

void CDiagnosticsPage::applyPendingEdits(const ListRows& deviceRows, const std::vector<int>& renamedRows,
                                         const std::vector<int>& ledChangedRows) {
    ListRows rows = historyRows();
    zrq406::applyPendingEdits(rows, deviceRows, renamedRows, ledChangedRows);
    m_history->setRows(rows);
}

} // namespace zrq406::utility
