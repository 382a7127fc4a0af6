#pragma once

#include "gui/worker_runner.h"
#include "upgrade/new_wiz_page.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace zrq406 {

namespace app {
struct LinkOptions;
}

class UpgradeToolContext;

// The first page: greets the user and opens the adapters; Next searches the network on a worker for the devices
// that need the new firmware and, when it found some, moves on to the device list.
class CWelcome : public CNewWizPage {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 138;

    CWelcome(CNewWizDialog& frame, UpgradeToolContext& context, const app::LinkOptions& link);
    ~CWelcome() override;

    bool InitPage() override;
    void ReleasePage() override;
    int NextPageId() override;

    // The adapters opened at start, in order.
    const std::vector<std::string>& adapterNames() const { return m_adapterNames; }
    bool searching() const { return m_runner.busy(); }

private:
    void search();

    UpgradeToolContext& m_context;
    std::unique_ptr<app::LinkOptions> m_link;
    std::vector<std::string> m_adapterNames;
    std::atomic<bool> m_searchFinished{false};
    std::atomic<int> m_searchResult{1};
    // Last, so that its workers end before anything they use goes away.
    WorkerRunner m_runner;
};

} // namespace zrq406
