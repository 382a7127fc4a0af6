#include "upgrade/dut_list.h"

#include "app/upgrade_tool_state.h"
#include "gui/page_layout.h"
#include "gui/report_list.h"
#include "gui/widget_font.h"
#include "uitext/decimal_text.h"
#include "upgrade/page_label.h"
#include "upgrade/upgrade_tool_context.h"

#include <QHeaderView>
#include <QLabel>

namespace zrq406 {

CDUTlist::CDUTlist(CNewWizDialog& frame, UpgradeToolContext& context)
    : CNewWizPage(frame, kTemplateId), m_context(context) {}

bool CDUTlist::InitPage() {
    m_list = new ReportList(this);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    QStringList headings;
    std::vector<int> widths;
    for (const char* column : {"ColumnName", "ColumnMac", "ColumnFMVer", "ColumnLocation"}) {
        headings << qtText(m_context.text({"DeviceList", "Devices", column, "Text"}));
        widths.push_back(decimalValue(m_context.text({"DeviceList", "Devices", column, "Size_w"})));
    }
    m_list->setColumnCount(static_cast<int>(widths.size()));
    m_list->setHeaderLabels(headings);
    for (std::size_t i = 0; i < widths.size(); ++i)
        m_list->setColumnWidth(static_cast<int>(i), widths[i]);
    m_local = m_context.text({"DeviceList", "Devices", "ColumnLocation", "valueLocal"});
    m_remote = m_context.text({"DeviceList", "Devices", "ColumnLocation", "valueRemote"});

    PageLayout layout(m_context.texts(), "DeviceList");
    layout.control(makePageLabel(this), "Caption", 1007);
    layout.control(m_list, "Devices", 1001);
    m_list->setAccessibleName(qtText(layout.text("Devices")));
    ApplyDialogFont(this, m_context.texts());
    return true;
}

void CDUTlist::EnterPage() {
    m_list->setFocus();
    ListRows rows;
    for (const app::UpgradeDevice& device : m_context.state().queue.devices())
        rows.push_back({device.name, device.mac, device.firmware, device.isLocal ? m_local : m_remote});
    m_list->setRows(rows);
}

} // namespace zrq406
