#pragma once

#include "utility/utility_page.h"

#include <string>
#include <vector>

namespace zrq406 {
class ReportList;
}

namespace zrq406::utility {

class CHomePlugDeviceManagerDlg;
class UtilityContext;

// The fourth tab: the system information and the Device History list, and the report of both.
class CDiagnosticsPage : public UtilityPage {
    Q_OBJECT
public:
    explicit CDiagnosticsPage(CHomePlugDeviceManagerDlg& main);

    void setActionsEnabled(bool enabled) override;

    // Refills the system information list.
    void fillSystemInformation();
    // The Device History list (FillHistoryList's rows).
    void setHistoryRows(const ListRows& rows);
    ListRows historyRows() const;
    // True once the history list was filled by a scan or from the history file.
    bool historyFilled() const { return m_historyFilled; }
    // A name edited on the network page.
    void renameDevice(const std::string& mac, const std::string& name);
    // Shows the pending renames and LED changes of the network page's list.
    void applyPendingEdits(const ListRows& deviceRows, const std::vector<int>& renamedRows,
                           const std::vector<int>& ledChangedRows);
    ReportList* historyList() { return m_history; }

private:
    CHomePlugDeviceManagerDlg& m_main;
    UtilityContext& m_context;
    ReportList* m_history = nullptr;
    bool m_historyFilled = false;
};

} // namespace zrq406::utility
