#pragma once

#include "upgrade/new_wiz_dialog.h"

namespace zrq406 {

class PictureBox;
class UpgradeToolContext;

// The upgrade tool's wizard frame: laid out from the language file (BaseDLG), with the run's queue of devices
// deciding the last page's buttons, and the Skip step that moves the question on to the next device.
class CZRQ406UPGRADEDlg : public CNewWizDialog {
    Q_OBJECT
public:
    explicit CZRQ406UPGRADEDlg(UpgradeToolContext& context, QWidget* parent = nullptr);

    // Icon, title, size and controls from the language file, then the first page.
    void initialise();
    void skipStep() override;

protected:
    int queuedCount() const override;
    void clearQueue() override;

private:
    UpgradeToolContext& m_context;
    PictureBox* m_picture;
};

} // namespace zrq406
