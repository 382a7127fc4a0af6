#pragma once

#include "utility/utility_page.h"

#include <string>

namespace zrq406 {
class ReportList;
}

namespace zrq406::utility {

class CHomePlugDeviceManagerDlg;
class UtilityContext;

// The second tab: the network password of the powerline network and the devices to give it.
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

private:
    CHomePlugDeviceManagerDlg& m_main;
    UtilityContext& m_context;
    ReportList* m_list = nullptr;
};

} // namespace zrq406::utility
