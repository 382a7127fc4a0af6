#pragma once

#include "app/upgrade_queue.h"
#include "gui/worker_runner.h"
#include "upgrade/new_wiz_page.h"

#include <QString>
#include <array>
#include <filesystem>
#include <map>

class QLabel;
class QProgressBar;
class QTimer;

namespace zrq406 {

class UpgradeToolContext;

// Upgrades the device at the head of the queue with the upgrade file of its region, showing the four steps, the
// percentage and a bar; the wizard is locked meanwhile. The worker moves the wizard on to the result when the
// upgrade has ended, either way.
class CUpgrading : public CNewWizPage {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 141;

    CUpgrading(CNewWizDialog& frame, UpgradeToolContext& context);
    ~CUpgrading() override;

    bool InitPage() override;
    void ReleasePage() override;
    void EnterPage() override;
    bool LocksButtons() override { return true; }

    // The upgrade file for a region: the first image of that region, else the default file beside the program.
    std::filesystem::path imageFor(int region);

private:
    void begin();
    void upgrade(const app::UpgradeDevice& device, const std::filesystem::path& image);
    // Shows the progress values: percentage, bar and step labels.
    void showProgress();
    // The percentage of the work done, from the step under way and the share of the firmware written.
    int percentNow() const;
    void showPercent(int percent);
    // After a failure: the steps done, the step where the upgrade stopped, the steps not reached.
    void showStoppedAt(int step);
    void markSteps(int current);

    UpgradeToolContext& m_context;
    // The step labels in the order of the steps; the last step has two entries, so that 100 % marks it too.
    std::array<QLabel*, 5> m_steps{};
    std::map<QLabel*, QString> m_stepTexts;
    // The firmware step's text as the language file has it, before the image's version goes in.
    QString m_firmwareStep;
    QLabel* m_done = nullptr;
    QLabel* m_percent = nullptr;
    QProgressBar* m_bar = nullptr;
    QTimer* m_display = nullptr;
    std::string m_manufacturer;
    std::string m_model;
    // Last, so that its workers end before anything they use goes away.
    WorkerRunner m_runner;
};

} // namespace zrq406
