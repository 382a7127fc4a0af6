#pragma once

#include "app/declined_upgrade_list.h"
#include "app/device_extras.h"
#include "app/device_password_table.h"
#include "app/session.h"
#include "app/upgrade_offer.h"
#include "gui/print_service.h"
#include "platform/instance_lock.h"
#include "platform/message_service.h"

#include <filesystem>
#include <string>
#include <vector>

namespace zrq406 {
class CLoadUISetting;
class FileDialogs;
} // namespace zrq406

namespace zrq406::utility {

// What the configuration utility holds for its whole run: the session with its adapters and device tables, the
// language file, the message and file dialog services, and the state that the windows share (declined upgrade
// offers, proved device passwords, pending list edits, the lock held while the upgrade tool runs). Made by the
// program at start and handed to every window; tests make one per test.
class UtilityContext {
public:
    static constexpr int kEditedRowsCapacity = 100;

    UtilityContext(MessageService& messages, CLoadUISetting& texts, FileDialogs& files, bool german);

    MessageService& messages;
    CLoadUISetting& texts;
    FileDialogs& files;
    app::Session session;
    // How the session reaches the devices (--simulate[=FILE]).
    app::LinkOptions linkOptions;
    // The user interface is German (dates are written "dd MMM").
    bool german;
    // The program title: caption of the main window and of every message box.
    std::string title;

    app::FirmwareThresholds thresholds;
    app::DeclinedUpgradeList declined;
    app::DevicePasswordTable passwords;
    // Rows of the network page's list renamed or given new LED text since start (first entry -1).
    std::vector<int> renamedRows{-1};
    std::vector<int> ledChangedRows{-1};
    std::string lastScanTime;
    // What the latest scan found besides the device records: the hosts behind each device that told them, and
    // whether the network uses the public default key (anyone with an adapter can join it).
    app::HostsByDevice hosts;
    bool publicKey = false;
    // Held from the launch of the upgrade tool to the end of the program.
    InstanceLock bothRun;
    // The upgrade tool beside this program.
    std::filesystem::path upgradeToolPath;
    // The period of the rescan (120 s, scaled by the pacing).
    int scanIntervalMs;
    // Where *.bin upgrade files are looked up for the newest builds.
    std::vector<std::filesystem::path> imageFiles;
    // Printing of the diagnostics report; tests put one of their own here (nullptr: the Qt print dialog).
    PrintService* printService = nullptr;

    // /ZRQ406/Messages/<key>/<field>
    std::string message(const std::string& key, const std::string& field = "Text");
    // Shows a text in a box captioned with the program title.
    MessageAnswer show(const std::string& text, MessageIcon icon, MessageButtons buttons = MessageButtons::Ok);
    // Shows the message of a key.
    MessageAnswer showMessage(const std::string& key, MessageIcon icon, MessageButtons buttons = MessageButtons::Ok);
    // The print service in use.
    PrintService& printer() { return printService != nullptr ? *printService : m_qtPrinter; }
    // Appends a row to RenamedRows or LedChangedRows (no more than their capacity).
    static void noteEditedRow(std::vector<int>& rows, int row);

private:
    QtPrintService m_qtPrinter;
};

} // namespace zrq406::utility
