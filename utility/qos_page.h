#pragma once

#include "utility/utility_page.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QPushButton;

namespace zrq406 {
class PictureBox;
class ReportList;
} // namespace zrq406

namespace zrq406::mme {
enum class QosPriority : std::uint8_t;
struct QosSettings;
} // namespace zrq406::mme

namespace zrq406::utility {

class CHomePlugDeviceManagerDlg;
class UtilityContext;

// The third tab: the priority settings of one device. Choosing a device reads its settings; Write puts the
// settings shown back into its configuration block. The VLAN tag and TOS bit maps give each of their eight values
// a channel access priority, used only while their check box is ticked; the two lists give destinations by MAC
// address and by port a priority of their own (at most eight of each), edited in place: the context menu, Insert,
// F2 and Delete add, change and remove entries.
class CQoSPage : public UtilityPage {
    Q_OBJECT
public:
    // Columns of the MAC address and port lists and of the summary.
    enum Column { Key, Priority };

    explicit CQoSPage(CHomePlugDeviceManagerDlg& main);

    void setActionsEnabled(bool enabled) override;
    void fillFromScan(const ScanTable& scan, const std::string& networkType) override;
    void showNoDevice() override;

    // A name edited on the network page.
    void renameDevice(const std::string& mac, const std::string& name);
    // The settings as the controls show them now.
    mme::QosSettings settings() const;
    // The device whose settings the controls show; empty until a device's settings were read.
    const std::string& shownDevice() const { return m_shownMac; }

    QComboBox* deviceBox() { return m_device; }
    ReportList* macList() { return m_macList; }
    ReportList* portList() { return m_portList; }
    ReportList* summary() { return m_summary; }

public Q_SLOTS:
    // Reads the chosen device's settings on a worker.
    void onDeviceChosen(int index);
    // Writes the settings shown to the device on a worker.
    void onWrite();
    // Adds an entry to a list and starts editing its address or port; msg13 when the list is full.
    void addEntry(ReportList* list);
    // Edits the selected entry's address or port.
    void editEntry(ReportList* list);
    // Removes the selected entry.
    void deleteEntry(ReportList* list);

Q_SIGNALS:
    // An edited entry's address or port has been checked (accepted, or put back with msg11 or msg12 told).
    void entryChecked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setUpEntryList(ReportList* list, const std::string& node, const std::vector<std::string>& columns,
                        int dialogId, const std::string& caption);
    void showSettings(const mme::QosSettings& settings);
    void forgetDevice();
    void updateEnabled();
    void refreshSummary();
    // After an edit of an entry's address or port: the text is checked and written in its usual form, or the
    // entry falls back to what it held (a new entry goes) and msg11 or msg12 tells why.
    void checkEntry(ReportList* list, int id);
    // Entries whose editing ended before they got an address or port.
    void dropUnfinishedEntries(ReportList* list);
    void readWorker(const std::string& mac);
    void writeWorker(const std::string& mac, const mme::QosSettings& settings);
    std::string word(mme::QosPriority priority) const;
    mme::QosPriority priorityOfWord(const std::string& word) const;

    CHomePlugDeviceManagerDlg& m_main;
    UtilityContext& m_context;
    // Priority/Value1 .. Value5, in the order of mme::QosPriority.
    std::vector<std::string> m_words;
    PictureBox* m_picture = nullptr;
    QComboBox* m_device = nullptr;
    QCheckBox* m_vlanOn = nullptr;
    QCheckBox* m_tosOn = nullptr;
    std::array<QComboBox*, 8> m_vlan{};
    std::array<QComboBox*, 8> m_tos{};
    ReportList* m_macList = nullptr;
    ReportList* m_portList = nullptr;
    ReportList* m_summary = nullptr;
    QPushButton* m_write = nullptr;
    std::string m_shownMac;
    bool m_actionsEnabled = true;
    bool m_filling = false;
    int m_nextEntryId = 1;
};

} // namespace zrq406::utility
