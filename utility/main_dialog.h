#pragma once

#include "gui/busy_scope.h"
#include "gui/worker_runner.h"
#include "link/interface_watch.h"
#include "registry/list_rows.h"

#include <QDialog>
#include <QRect>
#include <QSize>
#include <atomic>
#include <memory>
#include <string>

class QLabel;
class QPushButton;
class QSocketNotifier;
class QTabWidget;
class QTimer;

namespace zrq406 {
struct MacAddress;
}

namespace zrq406::app {
struct ScanReport;
}

namespace zrq406::utility {

class CAboutPage;
class CDiagnosticsPage;
class CEncryptionPage;
class CNetworkMapPage;
class CNetworkPage;
class CQoSPage;
class UtilityContext;
class UtilityPage;

// The configuration utility's main window: the tab pages, the periodic rescan, the busy state that locks the user
// out while a scan or a device operation runs, the device-arrival handling, the firmware-upgrade offer and the
// launch of the upgrade tool. Every scan runs the same scan cycle: the adapter loop and the device exchanges on a
// worker, the tables and pages on the window thread.
class CHomePlugDeviceManagerDlg : public QDialog, public BusyWindow {
    Q_OBJECT
public:
    explicit CHomePlugDeviceManagerDlg(UtilityContext& context, QWidget* parent = nullptr);
    ~CHomePlugDeviceManagerDlg() override;

    // Opens the host adapters and starts the start-up scan and the scan timer; false, after msg02, when no adapter
    // is usable (the window then closes).
    bool start();

    // UM_BUSYSTATE: 0 starts the scan timer (unless the window is held), 1 enters the busy state, 2 leaves it.
    void busyState(int state) override;
    QObject* windowObject() override { return this; }
    void holdWindow() override;
    void releaseWindow() override;
    // Refused with a message while another device operation runs.
    std::shared_ptr<void> beginOperation() override;
    void operationFailed(const std::string& what) override;
    void operationRefused(const std::string& why) override;
    WorkerRunner& workers() override { return *m_workers; }
    bool isBusy() const { return m_busy; }
    // True while a dialog or an operation holds the window.
    bool isHeld() const { return m_holds > 0; }

    UtilityContext& context() { return m_context; }
    CNetworkPage* networkPage() { return m_network; }
    CNetworkMapPage* networkMapPage() { return m_map; }
    CEncryptionPage* encryptionPage() { return m_encryption; }
    CQoSPage* qosPage() { return m_qos; }
    CDiagnosticsPage* diagnosticsPage() { return m_diagnostics; }
    CAboutPage* aboutPage() { return m_about; }
    QTabWidget* tabs() { return m_tabs; }
    QTimer* scanTimer() { return m_scanTimer; }

    // Starts the manual scan (the Scan button) as the window's device operation.
    void startManualScan();
    // The manual scan's work on the caller's worker, which holds the busy state. msg24 is left out when
    // `quietWhenNothingFound` (a factory reset reports on its own). True when a device answered.
    bool manualScanBody(bool quietWhenNothingFound);
    // After new network keys were sent: finds the local device again on the adapter where it was and rebuilds the
    // pages, or shows the no-device state with msg24. Runs on the caller's worker. True when found.
    bool rediscoverAfterKeyChange();

    // Window thread: opens the details of the link from `from` to `to` (modal).
    void openLinkDetails(const MacAddress& from, const MacAddress& to);
    // Window thread: shows the Encryption page.
    void showEncryptionPage();
    // Window thread: writes the history back from the lists and their pending edits.
    void syncHistoryFromLists();
    // Window thread: a name edited in place on the network page goes to the other lists and the history.
    void deviceRenamed(int row, const std::string& mac, const std::string& name);
    // Window thread: a device named outside the network page (a device just paired) gets the name in every list,
    // as an edit on the network page would give it, and the history is written at once.
    void renameDevice(const std::string& mac, const std::string& name);

public Q_SLOTS:
    // The Exit button: saves the history, then closes unless a scan runs.
    void onExit();
    // The rescan of the scan timer, as the window's device operation; none while the window is held.
    void onScanTimer();
    // The host gained an Ethernet interface: the adapters are opened again, once nothing holds the window; the
    // next tick scans.
    void onDeviceArrival();

Q_SIGNALS:
    // A scan cycle (of any kind) has ended; `found` tells whether a device answered.
    void scanFinished(bool found);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layOut();
    void createPages();
    void setAllActionsEnabled(bool enabled);
    // Worker side of a scan: the adapter loop, then the scan cycle's records and, on the window thread, the rest.
    bool scanFromWorker(bool showNoDeviceMessage);
    // Worker side, once discovery has found the local device: the records, then the pages on the window thread.
    void buildAndShowScan();
    // Window thread: the rest of the scan cycle (upgrade offer, pages, history list).
    void finishScanCycle(const app::ScanReport& report);
    // Window thread: no device answered.
    void showNoDeviceState(bool showMessage);
    // Window thread: more than one device answers as the attached one (`conflict`, the message naming them; ""
    // when the scan found none). Each set of devices is told once.
    void tellLocalConflict(const std::string& conflict);
    void refillHistoryList(int count);
    bool launchUpgradeTool();
    void watchInterfaces();
    void reopenAdapters();
    void closeNow();
    std::vector<UtilityPage*> pages() const;
    // Marks on the map the device selected in the device list.
    void syncMapSelection();

    UtilityContext& m_context;
    std::unique_ptr<WorkerRunner> m_workers;
    QTabWidget* m_tabs = nullptr;
    QPushButton* m_exit = nullptr;
    QLabel* m_note = nullptr;
    // The window's smallest size and the places of its parts at that size.
    QSize m_baseSize;
    QRect m_baseTabs;
    QRect m_baseExit;
    QRect m_baseNote;
    CNetworkPage* m_network = nullptr;
    CNetworkMapPage* m_map = nullptr;
    CEncryptionPage* m_encryption = nullptr;
    CQoSPage* m_qos = nullptr;
    CDiagnosticsPage* m_diagnostics = nullptr;
    CAboutPage* m_about = nullptr;
    QTimer* m_scanTimer = nullptr;
    link::InterfaceWatch m_interfaceWatch;
    QSocketNotifier* m_interfaceNotifier = nullptr;

    std::atomic<bool> m_busy{false};
    // Open modal dialogs and the running operation (window thread only).
    int m_holds = 0;
    bool m_closePending = false;
    bool m_adaptersChanged = false;
    bool m_closing = false;
    std::string m_networkType;
    // Devices left out of the full device history that the user has been told of.
    int m_historyFullTold = 0;
    // The last conflict told (tellLocalConflict).
    std::string m_conflictTold;
};

} // namespace zrq406::utility
