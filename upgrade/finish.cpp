#include "upgrade/finish.h"

#include "app/upgrade_tool_state.h"
#include "gui/page_layout.h"
#include "gui/widget_font.h"
#include "uitext/placeholders.h"
#include "upgrade/device_info.h"
#include "upgrade/page_label.h"
#include "upgrade/upgrade_tool_context.h"

#include <QLabel>

namespace zrq406 {

CFinish::CFinish(CNewWizDialog& frame, UpgradeToolContext& context)
    : CNewWizPage(frame, kTemplateId), m_context(context) {}

bool CFinish::InitPage() {
    PageLayout layout(m_context.texts(), "FinishDLG");
    m_result = makePageLabel(this);
    layout.control(m_result, "Lable", 1024);
    layout.control(makePageLabel(this), "Note", 1032);
    m_backup = makePageLabel(this);
    layout.control(m_backup, "Backup", -1);
    ApplyDialogFont(this, m_context.texts());
    return true;
}

void CFinish::EnterPage() {
    app::UpgradeToolState& state = m_context.state();
    if (state.queue.empty())
        return;
    const app::UpgradeDevice& device = state.queue.head();
    // A failed upgrade is reported as failed, never as ended like a success.
    const bool last = state.queue.size() == 1;
    const char* field = state.lastOutcome.ok ? (last ? "Text" : "Text2") : (last ? "Text3" : "Text4");
    // Name and MAC go in as text: the wording is never used as a format.
    m_result->setText(
        qtText(fillPlaceholders(m_context.text({"FinishDLG", "Lable", field}), {device.name, device.mac})));

    const std::string backup = state.lastOutcome.backup.string();
    if (backup.empty()) {
        m_backup->hide();
    } else {
        const QString text = qtText(fillPlaceholders(m_context.text({"FinishDLG", "Backup", "Text"}), {backup}));
        // The path may wrap after any folder; screen readers get it without the break hints.
        m_backup->setText(QString(text).replace(QLatin1Char('/'), QStringLiteral("/\u200B")));
        m_backup->setAccessibleName(text);
        m_backup->show();
    }
    state.queue.removeHead();
}

int CFinish::NextPageId() {
    return CDeviceInfo::kTemplateId;
}

} // namespace zrq406
