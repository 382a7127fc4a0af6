#include "upgrade/device_info.h"

#include "app/upgrade_search.h"
#include "app/upgrade_tool_state.h"
#include "gui/page_layout.h"
#include "gui/widget_font.h"
#include "uitext/placeholders.h"
#include "upgrade/page_label.h"
#include "upgrade/upgrade_tool_context.h"

#include <QApplication>
#include <QLabel>

namespace zrq406 {

CDeviceInfo::CDeviceInfo(CNewWizDialog& frame, UpgradeToolContext& context)
    : CNewWizPage(frame, kTemplateId), m_context(context) {}

QLabel* CDeviceInfo::label(const std::string& node, int dialogId) {
    QLabel* widget = makePageLabel(this);
    PageLayout(m_context.texts(), "DeviceInfo").control(widget, node, dialogId);
    return widget;
}

bool CDeviceInfo::InitPage() {
    label("Caption", 1007);
    m_index = label("DeviceIndex", 1002);
    label("NameCaption", 1015);
    label("MacCaption", 1016);
    label("FirmwareCaption", 1014);
    label("LocationCaption", 1017);
    m_name = label("Name", 1008);
    m_mac = label("Mac", 1005);
    m_firmware = label("Firmware", 1009);
    m_location = label("Location", 1006);
    ApplyDialogFont(this, m_context.texts());
    m_local = m_context.text({"DeviceList", "Devices", "ColumnLocation", "valueLocal"});
    m_remote = m_context.text({"DeviceList", "Devices", "ColumnLocation", "valueRemote"});
    m_modelName = m_context.textOr({"Utility", "ModelName"}, "TALVERN ZRQ406");
    return true;
}

void CDeviceInfo::EnterPage() {
    const app::UpgradeQueue& queue = m_context.state().queue;
    if (queue.empty())
        return;
    const app::UpgradeDevice& device = queue.head();
    // Shown as a format without values would show it: "%%" becomes "%", nothing else is read.
    m_index->setText(qtText(collapsePercent(m_context.text({"DeviceInfo", "DeviceIndex", "Text"}))));
    m_name->setText(qtText(device.name));
    m_mac->setText(qtText(device.mac));
    m_firmware->setText(qtText(device.firmware));
    m_location->setText(qtText(device.isLocal ? m_local : m_remote));
}

int CDeviceInfo::NextPageId() {
    const app::UpgradeQueue& queue = m_context.state().queue;
    if (queue.empty())
        return -1;
    const app::UpgradeDevice device = queue.head();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const app::DeviceCheck check =
        app::checkQueuedDevice(m_context.session(), m_context.state().adapter, device.mac, m_modelName);
    QApplication::restoreOverrideCursor();
    if (!check.answered) {
        m_context.message("msg10");
        return -1;
    }
    if (!check.model.keyChanged)
        return 0;
    if (!device.isLocal) {
        // A remote device would come back on the default key, outside the network: it could not be reached.
        m_context.message("msg13");
        return -1;
    }
    return m_context.message("msg12", MessageIcon::None, MessageButtons::OkCancel) == MessageAnswer::Ok ? 0 : -1;
}

} // namespace zrq406
