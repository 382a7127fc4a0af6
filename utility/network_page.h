#pragma once

// moc cannot parse the standard headers these reach; it needs none of their types.
#ifndef Q_MOC_RUN
#include "app/link_texts.h"
#endif
#include "utility/utility_page.h"

#include <QRect>
#include <QSize>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QAction;
class QLabel;
class QPushButton;

namespace zrq406 {
class PictureBox;
class ReportList;
} // namespace zrq406

namespace zrq406::utility {

class CHomePlugDeviceManagerDlg;
class UtilityContext;

// The first tab: the devices of the latest scan, with Rename, Factory Reset, Firmware Upgrade, LED Status and Scan;
// the device menu opens the link history, restarts a device or removes it from the network. Each device's tooltip
// names the hosts behind it, and a network on the public default key is pointed out with a way to the Encryption page.
class CNetworkPage : public UtilityPage {
    Q_OBJECT
public:
    // Columns of the device list.
    enum Column { Name, Mac, Location, Quality, PhyRate, Led, Firmware };

    explicit CNetworkPage(CHomePlugDeviceManagerDlg& main);

    void setActionsEnabled(bool enabled) override;
    void fillFromScan(const ScanTable& scan, const std::string& networkType) override;
    void showNoDevice() override;

    // The device list as the user sees it.
    ListRows rows() const;
    ReportList* list() { return m_list; }

public Q_SLOTS:
    void onRename();
    void onFactoryReset();
    void onFirmwareUpgrade();
    void onLedStatus();
    void onScan();
    // The link history dialog, on the links of the selected device.
    void onLinkHistory();
    // The device menu's Link Details: the chosen device's link with the local device.
    void onLinkDetails();
    // The device menu's Restart: the device restarts with its key, name and settings; the network is scanned again.
    void onRestart();
    // The device menu's Remove from network: after a question, the device leaves its network (a random key).
    void onRemoveFromNetwork();

protected:
    void resizeEvent(QResizeEvent* event) override;

Q_SIGNALS:
    // The list was filled by a scan (with this many devices).
    void devicesShown(int count);

private:
    // The selected row for an action (which holds the window meanwhile); -1, after msg53, when no row is selected.
    int chosenRow();
    // The selected device for an action: its row, MAC and name; nothing, after msg53, when no row is selected.
    struct ChosenDevice {
        int row;
        std::string mac;
        std::string name;
    };
    std::optional<ChosenDevice> chosenDevice();
    // The factory reset on its worker, as the window's device operation.
    void factoryResetWorker(int row, const std::string& mac, const std::string& name);
    void ledWorker(int row, const std::string& mac, bool on);
    void restartWorker(const std::string& mac, const std::string& name);
    void removeWorker(const std::string& mac, const std::string& name);
    // Worker side: tells the outcome `key` of an action on the device, then rescans.
    void tellAndRescan(const std::string& key, bool done, const std::string& name, const std::string& macText);
    void nameEdited(int row);
    void updateUpgradeButton();

    CHomePlugDeviceManagerDlg& m_main;
    UtilityContext& m_context;
    // The hosts' wording in device tooltips, shared with the network map.
    app::LinkTexts m_linkTexts;
    ReportList* m_list = nullptr;
    QPushButton* m_rename = nullptr;
    QPushButton* m_reset = nullptr;
    QPushButton* m_upgrade = nullptr;
    QPushButton* m_led = nullptr;
    QPushButton* m_scan = nullptr;
    QLabel* m_detecting = nullptr;
    QLabel* m_deviceCount = nullptr;
    QLabel* m_nid = nullptr;
    QLabel* m_networkType = nullptr;
    QLabel* m_publicKey = nullptr;
    QPushButton* m_toEncryption = nullptr;
    QAction* m_historyAction = nullptr;
    // The page's first size and its controls' places then: the list takes what the page gains, the controls below
    // it move down with its bottom, those on its right half also right.
    QSize m_baseSize;
    std::vector<std::pair<QWidget*, QRect>> m_basePlaces;
    QAction* m_detailsAction = nullptr;
    QAction* m_restartAction = nullptr;
    QAction* m_removeAction = nullptr;
    PictureBox* m_picture = nullptr;
    bool m_actionsEnabled = true;
    // The name a row had before an in-place edit.
    std::string m_nameBeforeEdit;
    int m_editedRow = -1;
};

} // namespace zrq406::utility
