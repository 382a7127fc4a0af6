#pragma once

#include "registry/device_record.h"
#include "registry/list_rows.h"

#include <QWidget>
#include <string>

namespace zrq406::utility {

// A tab page of the main window. The main window fills every page after a scan, shows their no-device state, and
// locks and unlocks their action controls with the busy state.
class UtilityPage : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // The busy state: false disables the page's action controls, true enables them again.
    virtual void setActionsEnabled(bool enabled) { (void)enabled; }
    // The devices of the latest scan, and the network type word of the local device's key.
    virtual void fillFromScan(const ScanTable& scan, const std::string& networkType) {
        (void)scan;
        (void)networkType;
    }
    // No device answered.
    virtual void showNoDevice() {}
};

} // namespace zrq406::utility
