#include "upgrade/zrq406_upgrade_dlg.h"

#include "app/upgrade_tool_state.h"
#include "gui/page_layout.h"
#include "gui/picture_box.h"
#include "gui/widget_font.h"
#include "uitext/decimal_text.h"
#include "upgrade/upgrade_tool_context.h"

#include <QPushButton>

namespace zrq406 {

CZRQ406UPGRADEDlg::CZRQ406UPGRADEDlg(UpgradeToolContext& context, QWidget* parent)
    : CNewWizDialog(parent), m_context(context), m_picture(new PictureBox(QStringLiteral("upgrade"), this)) {}

void CZRQ406UPGRADEDlg::initialise() {
    setWindowIcon(PictureBox::applicationIcon());
    setWindowTitle(qtText(m_context.title()));
    const int width = decimalValue(m_context.text({"Utility", "Size_w"}));
    const int height = decimalValue(m_context.text({"Utility", "Size_h"}));
    if (width > 0 && height > 0)
        setFixedSize(width, height);

    PageLayout layout(m_context.texts(), "BaseDLG");
    layout.control(panel(), "Panel", IdPanel);
    panel()->setAccessibleName(qtText(layout.text("Panel")));
    layout.control(nextButton(), "ButtonNext", IdNext);
    layout.control(backButton(), "ButtonBack", IdBack);
    layout.control(yesButton(), "ButtonYes", IdYes);
    layout.control(finishButton(), "ButtonFinish", IdFinish);
    layout.control(skipButton(), "ButtonSkip", IdSkip);
    layout.control(closeButton(), "ButtonClose", IdClose);
    layout.control(cancelButton(), "ButtonCancel", IdCancel);
    // The banner above the page area is ours; it names the program's purpose for screen readers.
    layout.rect(m_picture, "Picture", -1, layout.text("Picture"));
    ApplyDialogFont(this, m_context.texts());
    startWizard();
}

int CZRQ406UPGRADEDlg::queuedCount() const {
    return m_context.state().queue.size();
}

void CZRQ406UPGRADEDlg::clearQueue() {
    m_context.state().queue.clear();
}

void CZRQ406UPGRADEDlg::skipStep() {
    app::UpgradeQueue& queue = m_context.state().queue;
    if (queue.size() == 1) {
        m_context.message("msg11");
        skipButton()->setEnabled(false);
        return;
    }
    queue.removeHead();
    ShowPage(currentPage());
}

} // namespace zrq406
