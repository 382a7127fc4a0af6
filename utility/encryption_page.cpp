#include "utility/encryption_page.h"

#include "app/device_actions.h"
#include "app/key_change_texts.h"
#include "gui/busy_scope.h"
#include "gui/page_layout.h"
#include "gui/picture_box.h"
#include "gui/report_list.h"
#include "gui/widget_font.h"
#include "gui/widget_target.h"
#include "gui/window_thread.h"
#include "mme/key_derivation.h"
#include "platform/text_field.h"
#include "uitext/load_ui_setting.h"
#include "utility/main_dialog.h"
#include "utility/password_dialog.h"
#include "utility/utility_context.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace zrq406::utility {

namespace {
// After new keys were sent, the devices rejoin the network under the new key before it is searched again.
constexpr double kRejoinWaitMs = 8000;
constexpr char kPage[] = "EncryptionTab";
} // namespace

CEncryptionPage::CEncryptionPage(CHomePlugDeviceManagerDlg& main)
    : UtilityPage(nullptr), m_main(main), m_context(main.context()) {
    setObjectName(QStringLiteral("CEncryptionPage"));
    PageLayout layout(m_context.texts, kPage);
    const std::string caption = m_context.texts.LoadPageCaption("ZRQ406", kPage, "Text");
    m_picture = new PictureBox(QStringLiteral("encryption"), this);
    layout.rect(m_picture, "pictureBox2", 1102, caption);
    auto* intro = new QLabel(this);
    intro->setWordWrap(true);
    layout.control(intro, "label84", 1080);
    m_list = new ReportList(this);
    m_list->setCheckable(true);
    m_list->setCheckNameColumns({Name, Mac});
    layout.rect(m_list, "listView4", 1053, caption);
    layout.columns(m_list, "listView4", {"", "DeviceN_s", "MACaddress_s", "Location_s", "password_s", "FWversion_s"});
    m_enterPassword = layout.add<QPushButton>(this, "btnEnterPWD", 1009);
    auto* group = layout.add<QGroupBox>(this, "groupBox28", 1083);
    auto* rule = new QLabel(this);
    rule->setWordWrap(true);
    layout.control(rule, "label55", 1081);
    m_networkPassword = layout.add<QLineEdit>(this, "textBox_Security_NetworkID", 1003);
    m_networkPassword->setAccessibleName(group->title());
    auto* defaultNote = new QLabel(this);
    defaultNote->setWordWrap(true);
    layout.control(defaultNote, "label101", 1082);
    m_useDefault = layout.add<QPushButton>(this, "button_Security_UseDefaultNetworkID", 1046);
    auto* orWord = new QLabel(this);
    orWord->setAlignment(Qt::AlignCenter);
    layout.control(orWord, "label54", 1086);
    m_setSelected = layout.add<QPushButton>(this, "button_SetSelectedDevices", 1015);
    ApplyDialogFont(this, m_context.texts);
    // The controls of the group lie over its frame, as siblings, where the language file puts them.
    for (QWidget* inside :
         std::initializer_list<QWidget*>{rule, m_networkPassword, defaultNote, m_useDefault, orWord, m_setSelected})
        inside->raise();
    rule->setBuddy(m_networkPassword);

    for (QPushButton* button : {m_enterPassword, m_useDefault, m_setSelected})
        button->setAutoDefault(false);
    connect(m_enterPassword, &QPushButton::clicked, this, &CEncryptionPage::onEnterPassword);
    connect(m_useDefault, &QPushButton::clicked, this, &CEncryptionPage::onUseDefault);
    connect(m_setSelected, &QPushButton::clicked, this, &CEncryptionPage::onSetSelectedDevices);
}

void CEncryptionPage::setActionsEnabled(bool enabled) {
    for (QWidget* control :
         std::initializer_list<QWidget*>{m_list, m_enterPassword, m_networkPassword, m_useDefault, m_setSelected})
        control->setEnabled(enabled);
}

void CEncryptionPage::fillFromScan(const ScanTable& scan, const std::string&) {
    ListRows rows;
    for (int i = 0; i < scan.count; ++i) {
        const DeviceRecord& d = scan.entries[i];
        rows.push_back({"", fieldText(d.name), fieldText(d.mac), fieldText(d.location), fieldText(d.password),
                        fieldText(d.firmware)});
    }
    m_list->setRows(rows);
}

void CEncryptionPage::showNoDevice() {
    m_list->setRows({});
}

ListRows CEncryptionPage::rows() const {
    return m_list->rows();
}

void CEncryptionPage::renameDevice(const std::string& mac, const std::string& name) {
    for (int r = 0; r < m_list->topLevelItemCount(); ++r)
        if (m_list->cell(r, Mac) == mac)
            m_list->setCell(r, Name, name);
}

void CEncryptionPage::onUseDefault() {
    // The language file's text of the edit is the public default network password.
    WidgetTarget target(m_networkPassword);
    m_context.texts.LoadBasicCtrl(&target, "ZRQ406", kPage, "textBox_Security_NetworkID");
}

void CEncryptionPage::onEnterPassword() {
    if (m_main.isBusy())
        return;
    const int row = m_list->selectedRow();
    if (row < 0) {
        m_context.showMessage("msg53", MessageIcon::Exclamation);
        return;
    }
    if (row == 0) {
        m_context.showMessage("msg54", MessageIcon::Exclamation);
        return;
    }
    const std::string mac = m_list->cell(row, Mac);
    // No rescan while the dialog is open: the proof and a scan must not share the adapters.
    m_main.scanTimer()->stop();
    CSetDAK dialog(m_context, &m_main, m_list->cell(row, Name), mac, this);
    const int result = dialog.exec();
    const std::string password = dialog.enteredPassword();
    if (result == CSetDAK::kAccepted && !password.empty() && m_list->cell(row, Mac) == mac) {
        m_list->setCell(row, Password, password);
        m_context.passwords.remember(mac, password);
    }
    sendBusyState(m_main, BusyWindow::StartTimer);
}

void CEncryptionPage::onSetSelectedDevices() {
    if (m_main.isBusy())
        return;
    m_main.busyState(BusyWindow::Enter);
    m_main.workers().start([this] { setSelectedDevicesWorker(); });
}

void CEncryptionPage::setSelectedDevicesWorker() {
    BusyScope busy(m_main, BusyScope::Adopt{});
    ListRows rows;
    std::string networkPassword;
    callOnThread(this, [&] {
        rows = m_list->rows();
        networkPassword = stdText(m_networkPassword->text());
    });

    // Remote rows first, the local row last: keying the local device first would cut the way to the others.
    std::vector<std::size_t> order;
    for (std::size_t r = 1; r < rows.size(); ++r)
        order.push_back(r);
    if (!rows.empty())
        order.push_back(0);
    bool anyChecked = false;
    std::vector<int> withoutPassword;
    std::vector<app::KeyTarget> targets;
    std::vector<std::string> devices;
    for (const std::size_t r : order) {
        const auto& row = rows[r];
        if (row.size() <= Firmware || row[Check].empty())
            continue;
        anyChecked = true;
        if (r != 0 && row[Password].empty()) {
            withoutPassword.push_back(static_cast<int>(r));
            continue;
        }
        targets.push_back({MacAddress::fromText(row[Mac]), r != 0, row[Password]});
        devices.push_back(row[Mac]);
    }
    if (!anyChecked) {
        m_context.showMessage("msg33", MessageIcon::Exclamation);
        return;
    }
    if (!withoutPassword.empty()) {
        callOnThread(this, [&] {
            for (const int r : withoutPassword)
                m_list->setChecked(r, false);
        });
        if (m_context.showMessage("msg34", MessageIcon::Exclamation, MessageButtons::OkCancel) != MessageAnswer::Ok)
            return;
    }
    if (const auto problem = mme::ValidateNetworkPassword(networkPassword); problem != mme::PasswordProblem::None) {
        m_context.show(app::networkPasswordProblemText(problem, m_context.message("msg21"), m_context.message("msg22")),
                       MessageIcon::Exclamation);
        return;
    }
    if (targets.empty())
        return;
    const std::string question =
        app::keyConfirmationText(m_context.message("msg35"), m_context.message("msg35", "Text2"), devices);
    if (m_context.show(question, MessageIcon::None, MessageButtons::OkCancel) != MessageAnswer::Ok)
        return;

    const auto outcomes = app::setNetworkKeys(m_context.session, networkPassword, targets);
    std::vector<std::string> failed;
    for (std::size_t i = 0; i < outcomes.size(); ++i)
        if (!outcomes[i].keyed)
            failed.push_back(devices[i]);
    m_context.session.pacing().sleep(kRejoinWaitMs);
    // Success only when every device took the key, whichever was keyed last.
    if (failed.empty())
        m_context.showMessage("msg37", MessageIcon::None);
    else
        m_context.show(app::keyFailureText(m_context.message("msg36"), m_context.message("msg36", "Text2"), failed),
                       MessageIcon::None);
    m_main.rediscoverAfterKeyChange();
    callOnThread(this, [this] {
        for (int r = 0; r < m_list->topLevelItemCount(); ++r)
            m_list->setChecked(r, false);
    });
}

} // namespace zrq406::utility
