#pragma once

#include "upgrade/new_wiz_page.h"

#include <string>

namespace zrq406 {

class ReportList;
class UpgradeToolContext;

// The list of every queued device: name, MAC address, firmware version and location.
class CDUTlist : public CNewWizPage {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 143;

    CDUTlist(CNewWizDialog& frame, UpgradeToolContext& context);

    bool InitPage() override;
    void EnterPage() override;

    ReportList* list() const { return m_list; }

private:
    UpgradeToolContext& m_context;
    ReportList* m_list = nullptr;
    std::string m_local;
    std::string m_remote;
};

} // namespace zrq406
