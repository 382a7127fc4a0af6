#include "utility/encryption_page.h"

#include "app/device_actions.h"
#include "app/key_change.h"
#include "app/key_change_texts.h"
#include "gui/page_layout.h"
#include "gui/picture_box.h"
#include "gui/report_list.h"
#include "gui/run_operation.h"
#include "gui/widget_font.h"
#include "gui/widget_target.h"
#include "gui/window_thread.h"
#include "mme/key_derivation.h"
#include "platform/text_field.h"
#include "uitext/load_ui_setting.h"
#include "utility/add_device_dialog.h"
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
    m_addDevice = layout.add<QPushButton>(this, "btnAddDevice", 1010);
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

    for (QPushButton* button : {m_enterPassword, m_addDevice, m_useDefault, m_setSelected})
        button->setAutoDefault(false);
    connect(m_enterPassword, &QPushButton::clicked, this, &CEncryptionPage::onEnterPassword);
    connect(m_addDevice, &QPushButton::clicked, this, &CEncryptionPage::onAddDevice);
    connect(m_useDefault, &QPushButton::clicked, this, &CEncryptionPage::onUseDefault);
    connect(m_setSelected, &QPushButton::clicked, this, &CEncryptionPage::onSetSelectedDevices);
}

void CEncryptionPage::setActionsEnabled(bool enabled) {
    for (QWidget* control : std::initializer_list<QWidget*>{m_list, m_enterPassword, m_addDevice, m_networkPassword,
                                                            m_useDefault, m_setSelected})
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
    // No rescan and no reopening of the adapters while the dialog is open.
    const WindowHold hold(m_main);
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
    CSetDAK dialog(m_context, m_main, m_list->cell(row, Name), mac, this);
    const int result = dialog.exec();
    const std::string password = dialog.enteredPassword();
    if (result == CSetDAK::kAccepted && !password.empty() && m_list->cell(row, Mac) == mac) {
        m_list->setCell(row, Password, password);
        m_context.passwords.remember(mac, password);
    }
}

void CEncryptionPage::onAddDevice() {
    if (m_main.isBusy())
        return;
    // No timer scan starts under the assistant; its own search runs as the window's device operation.
    const WindowHold hold(m_main);
    CAddDeviceDialog dialog(m_context, m_main, this);
    dialog.exec();
}

void CEncryptionPage::onSetSelectedDevices() {
    if (m_main.isBusy())
        return;
    runOperation(m_main, [this] { setSelectedDevicesWorker(); });
}

void CEncryptionPage::setSelectedDevicesWorker() {
    ListRows rows;
    std::string networkPassword;
    callOnThread(this, [&] {
        rows = m_list->rows();
        networkPassword = stdText(m_networkPassword->text());
    });

    // One request per row, so that the plan's row numbers are the list's.
    std::vector<app::KeyRequestRow> requested;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const auto& row = rows[r];
        if (row.size() <= Firmware)
            requested.push_back({{}, {}, r == 0, false, {}});
        else
            requested.push_back({row[Mac], row[Name], r == 0, !row[Check].empty(), row[Password]});
    }
    const app::KeyChangePlan plan = app::planKeyChange(requested);
    if (!plan.anyTicked) {
        m_context.showMessage("msg33", MessageIcon::Exclamation);
        return;
    }
    if (!plan.withoutPassword.empty()) {
        callOnThread(this, [&] {
            for (const std::size_t r : plan.withoutPassword)
                m_list->setChecked(static_cast<int>(r), false);
        });
        if (m_context.showMessage("msg34", MessageIcon::Exclamation, MessageButtons::OkCancel) != MessageAnswer::Ok)
            return;
    }
    if (const auto problem = mme::ValidateNetworkPassword(networkPassword); problem != mme::PasswordProblem::None) {
        m_context.show(app::networkPasswordProblemText(problem, m_context.message("msg21"), m_context.message("msg22")),
                       MessageIcon::Exclamation);
        return;
    }
    if (plan.targets.empty())
        return;
    const std::string question =
        app::keyConfirmationText(m_context.message("msg35"), m_context.message("msg35", "Text2"), plan.deviceTexts());
    if (m_context.show(question, MessageIcon::None, MessageButtons::OkCancel) != MessageAnswer::Ok)
        return;

    const app::KeyChangeOutcome outcome = app::changeNetworkKey(m_context.session, networkPassword, plan.targets);
    app::waitForRejoin(m_context.session, outcome);
    if (outcome.result == app::KeyChangeResult::Done)
        m_context.showMessage("msg37", MessageIcon::None);
    else
        m_context.show(app::keyChangeReportText(outcome,
                                                [this](const std::string& key, const std::string& field) {
                                                    return m_context.message(key, field);
                                                }),
                       outcome.result == app::KeyChangeResult::NotProved ? MessageIcon::Exclamation
                                                                         : MessageIcon::Stop);
    m_main.rediscoverAfterKeyChange();
    callOnThread(this, [this] {
        for (int r = 0; r < m_list->topLevelItemCount(); ++r)
            m_list->setChecked(r, false);
    });
}

} // namespace zrq406::utility
