#pragma once

#include "utility/utility_page.h"

#include <QRect>
#include <QSize>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QTabWidget;

namespace zrq406 {
class PictureBox;
class WorkerRunner;
class ReportList;
} // namespace zrq406

namespace zrq406::utility {

class CHomePlugDeviceManagerDlg;
class UtilityContext;

// The fourth tab: the system information, the Device History list and, beside it on a tab of its own, the health
// of every link (Check Links: the loss counters of every link direction, weakest first, and the carriers of the
// weakest one, read as the window's device operation); the report of them all with the devices of the last scan,
// saved as a text file or printed.
class CDiagnosticsPage : public UtilityPage {
    Q_OBJECT
public:
    explicit CDiagnosticsPage(CHomePlugDeviceManagerDlg& main);
    ~CDiagnosticsPage() override;

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
    // The report as Save Report writes it and Print Report prints it, with the week's link summary `linkWeek`.
    std::string report(const ListRows& linkWeek) const;
    // True while a report's link summary is read from the link history.
    bool reportPending() const { return m_reportPending; }
    ReportList* historyList() { return m_history; }
    ReportList* systemList() { return m_system; }
    ReportList* healthList() { return m_health; }
    QLabel* weakestCarriers() { return m_weakest; }
    QTabWidget* lists() { return m_lists; }
    // Reads every link's health and the weakest link's carriers (the Check Links button).
    void onCheckLinks();
    // True while Check Links reads the devices.
    bool checkingLinks() const { return m_checking; }

public Q_SLOTS:
    // Removes the selected device from the Device History list; the history file loses it when it is next saved.
    void onDeleteDevice();
    void onSaveReport();
    void onPrintReport();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Reads the week's link summary off the window thread (another program may hold the link history), then hands
    // the report to `use` on the window thread. A click while one is read is ignored.
    void withReport(std::function<void(const std::string&)> use);

    CHomePlugDeviceManagerDlg& m_main;
    UtilityContext& m_context;
    PictureBox* m_picture = nullptr;
    ReportList* m_system = nullptr;
    ReportList* m_history = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_print = nullptr;
    QTabWidget* m_lists = nullptr;
    ReportList* m_health = nullptr;
    QLabel* m_weakest = nullptr;
    QPushButton* m_check = nullptr;
    // The last check of the links: the table's rows, notes and the weakest link's carriers, as the report has them.
    ListRows m_healthRows;
    std::vector<std::string> m_healthNotes;
    std::string m_weakestText;
    bool m_checking = false;
    // The page's first size and the places of the lists and buttons at it.
    QSize m_baseSize;
    QRect m_baseLists;
    std::vector<QRect> m_baseButtons;
    std::vector<std::string> m_labels;
    std::vector<std::string> m_systemValues;
    int m_devicesFound = 0;
    bool m_historyFilled = false;
    bool m_reportPending = false;
    std::unique_ptr<WorkerRunner> m_workers;
};

} // namespace zrq406::utility
