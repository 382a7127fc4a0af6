#pragma once

#include "utility/utility_page.h"

#include <string>

class QLineEdit;
class QPushButton;

namespace zrq406 {
class PictureBox;
class ReportList;
} // namespace zrq406

namespace zrq406::utility {

class CHomePlugDeviceManagerDlg;
class UtilityContext;

// The second tab: the network password of the powerline network and the devices to give it. Row 0 of the list is
// the local device; a remote device takes a new key only through its device password, which "Enter Password"
// proves and keeps for the rest of the run.
class CEncryptionPage : public UtilityPage {
    Q_OBJECT
public:
    // Columns of the device list.
    enum Column { Check, Name, Mac, Location, Password, Firmware };

    explicit CEncryptionPage(CHomePlugDeviceManagerDlg& main);

    void setActionsEnabled(bool enabled) override;
    void fillFromScan(const ScanTable& scan, const std::string& networkType) override;
    void showNoDevice() override;

    // The device list as the user sees it (column 0 "1" for a ticked row).
    ListRows rows() const;
    // A name edited on the network page.
    void renameDevice(const std::string& mac, const std::string& name);
    ReportList* list() { return m_list; }
    QLineEdit* networkPassword() { return m_networkPassword; }

public Q_SLOTS:
    void onEnterPassword();
    // "Add a Device...": the pairing assistant, holding the window while it is open.
    void onAddDevice();
    void onUseDefault();
    void onSetSelectedDevices();

private:
    // SetSelectedDevices on its worker, under the busy state the button entered.
    void setSelectedDevicesWorker();

    CHomePlugDeviceManagerDlg& m_main;
    UtilityContext& m_context;
    PictureBox* m_picture = nullptr;
    ReportList* m_list = nullptr;
    QPushButton* m_enterPassword = nullptr;
    QPushButton* m_addDevice = nullptr;
    QLineEdit* m_networkPassword = nullptr;
    QPushButton* m_useDefault = nullptr;
    QPushButton* m_setSelected = nullptr;
};

} // namespace zrq406::utility
