#pragma once

#include "upgrade/new_wiz_page.h"

#include <string>

class QLabel;

namespace zrq406 {

class UpgradeToolContext;

// The question about the device at the head of the queue: Yes upgrades it (once it has answered again), Skip
// moves on to the next device.
class CDeviceInfo : public CNewWizPage {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 140;

    CDeviceInfo(CNewWizDialog& frame, UpgradeToolContext& context);

    bool InitPage() override;
    void EnterPage() override;
    int NextPageId() override;
    bool AsksYesSkip() override { return true; }

private:
    QLabel* label(const std::string& node, int dialogId);

    UpgradeToolContext& m_context;
    QLabel* m_index = nullptr;
    QLabel* m_name = nullptr;
    QLabel* m_mac = nullptr;
    QLabel* m_firmware = nullptr;
    QLabel* m_location = nullptr;
    std::string m_local;
    std::string m_remote;
    std::string m_modelName;
};

} // namespace zrq406
