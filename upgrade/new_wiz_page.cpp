#include "upgrade/new_wiz_page.h"

#include "upgrade/new_wiz_dialog.h"

namespace zrq406 {

CNewWizPage::CNewWizPage(CNewWizDialog& frame, int templateId)
    : QWidget(&frame), m_frame(frame), m_templateId(templateId) {
    hide();
}

} // namespace zrq406
