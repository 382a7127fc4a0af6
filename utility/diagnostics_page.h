#pragma once

#include "utility/utility_page.h"

#include <string>
#include <vector>

class QPushButton;

namespace zrq406 {
class PictureBox;
class ReportList;
} // namespace zrq406

namespace zrq406::utility {

class CHomePlugDeviceManagerDlg;
class UtilityContext;

// The fourth tab: the system information and the Device History list, and the report of both with the devices of
// the last scan, saved as a text file or printed.
class CDiagnosticsPage : public UtilityPage {
    Q_OBJECT
public:
    explicit CDiagnosticsPage(CHomePlugDeviceManagerDlg& main);

    void setActionsEnabled(bool enabled) override;
    void fillFromScan(const ScanTable& scan, const std::string& networkType) override;
    void showNoDevice() override;

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
    // The report as Save Report writes it and Print Report prints it.
    std::string report() const;
    ReportList* historyList() { return m_history; }
    ReportList* systemList() { return m_system; }

public Q_SLOTS:
    // Removes the selected device from the Device History list; the history file loses it when it is next saved.
    void onDeleteDevice();
    void onSaveReport();
    void onPrintReport();

private:
    CHomePlugDeviceManagerDlg& m_main;
    UtilityContext& m_context;
    PictureBox* m_picture = nullptr;
    ReportList* m_system = nullptr;
    ReportList* m_history = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_print = nullptr;
    std::vector<std::string> m_labels;
    std::vector<std::string> m_systemValues;
    int m_devicesFound = 0;
    bool m_historyFilled = false;
};

} // namespace zrq406::utility
