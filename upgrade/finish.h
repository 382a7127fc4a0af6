#pragma once

#include "upgrade/new_wiz_page.h"

class QLabel;

namespace zrq406 {

class UpgradeToolContext;

// The result for the device at the head of the queue, which then leaves the queue; Next returns to the question
// for the next device.
class CFinish : public CNewWizPage {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 142;

    CFinish(CNewWizDialog& frame, UpgradeToolContext& context);

    bool InitPage() override;
    void EnterPage() override;
    int NextPageId() override;

private:
    UpgradeToolContext& m_context;
    QLabel* m_result = nullptr;
    QLabel* m_backup = nullptr;
};

} // namespace zrq406
