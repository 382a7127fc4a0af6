#include "utility/network_page.h"

#include "app/device_actions.h"
#include "app/device_extras.h"
#include "app/utility_flows.h"
#include "gui/page_layout.h"
#include "gui/picture_box.h"
#include "gui/report_list.h"
#include "gui/run_operation.h"
#include "gui/widget_font.h"
#include "gui/window_thread.h"
#include "platform/text_field.h"
#include "registry/value_texts.h"
#include "uitext/load_ui_setting.h"
#include "uitext/placeholders.h"
#include "utility/led_dialog.h"
#include "utility/link_history_dialog.h"
#include "utility/main_dialog.h"
#include "utility/network_map.h"
#include "utility/network_map_page.h"
#include "utility/upgrade_dialog.h"
#include "utility/utility_context.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QTimer>
#include <algorithm>

namespace zrq406::utility {

namespace {
// A device name field holds 39 bytes and its terminator.
constexpr std::size_t kNameBytes = sizeof(DeviceRecord::name) - 1;
} // namespace

CNetworkPage::CNetworkPage(CHomePlugDeviceManagerDlg& main)
    : UtilityPage(nullptr), m_main(main), m_context(main.context()),
      m_linkTexts(app::LinkTexts::load(m_context.texts)) {
    setObjectName(QStringLiteral("CNetworkPage"));
    PageLayout layout(m_context.texts, "NetworkTab");
    const std::string caption = m_context.texts.LoadPageCaption("ZRQ406", "NetworkTab", "Text");
    m_picture = new PictureBox(QStringLiteral("network"), this);
    layout.rect(m_picture, "pictureBox1", 1101, caption);
    m_list = new ReportList(this);
    layout.rect(m_list, "TopologyView", 1053, caption);
    layout.columns(m_list, "TopologyView",
                   {"TopologyDeviceName", "TopologySTAMAC", "TopologyLocation", "TopologyQuality", "AveTXPHYRate",
                    "TopologyLED", "FirmwareV"});
    m_rename = layout.add<QPushButton>(this, "button_Rename", 1009);
    m_reset = layout.add<QPushButton>(this, "button_Factory_Reset", 1015);
    m_upgrade = layout.add<QPushButton>(this, "button_Firmware_Upgrade", 1036);
    m_led = layout.add<QPushButton>(this, "btnLedOnOff", 1056);
    m_scan = layout.add<QPushButton>(this, "button_Scan", 1055);
    m_detecting = layout.add<QLabel>(this, "Detecting", 1067);
    m_deviceCount = layout.add<QLabel>(this, "Devicenum", 1064);
    m_nid = layout.add<QLabel>(this, "NID", 1079);
    m_networkType = layout.add<QLabel>(this, "lblNetworkType", 1063);
    // Anyone with an adapter can join a network on the public default key: said beside the list, with the way to
    // a password of the user's own.
    m_publicKey = layout.add<QLabel>(this, "lblPublicKey", 1130);
    m_publicKey->setWordWrap(true);
    m_publicKey->setAccessibleName(m_publicKey->text());
    m_publicKey->hide();
    m_toEncryption = layout.add<QPushButton>(this, "btnToEncryption", 1131);
    m_toEncryption->setAccessibleName(m_toEncryption->text());
    m_toEncryption->hide();
    ApplyDialogFont(this, m_context.texts);

    // Link quality and LED state are marked in colour beside their words.
    const ValueTexts words = ValueTexts::load(m_context.texts);
    m_list->setStateColours(Quality, {{words.qualityGood, QColor(0x2e, 0xb8, 0x5c)},
                                      {words.qualityFair, QColor(0xf2, 0xc1, 0x4e)},
                                      {words.qualityPoor, QColor(0xd9, 0x3f, 0x3f)}});
    m_list->setStateColours(Led, {{words.ledOn, QColor(0x2e, 0xb8, 0x5c)}, {words.ledOff, QColor(0x9a, 0xa5, 0xb1)}});

    for (QPushButton* button : {m_rename, m_reset, m_upgrade, m_led, m_scan, m_toEncryption})
        button->setAutoDefault(false);
    connect(m_toEncryption, &QPushButton::clicked, this, [this] { m_main.showEncryptionPage(); });
    connect(m_rename, &QPushButton::clicked, this, &CNetworkPage::onRename);
    connect(m_reset, &QPushButton::clicked, this, &CNetworkPage::onFactoryReset);
    connect(m_upgrade, &QPushButton::clicked, this, &CNetworkPage::onFirmwareUpgrade);
    connect(m_led, &QPushButton::clicked, this, &CNetworkPage::onLedStatus);
    connect(m_scan, &QPushButton::clicked, this, &CNetworkPage::onScan);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &CNetworkPage::updateUpgradeButton);
    // The device menu of the chosen device; the menu key opens the same menu.
    const auto action = [this](const std::string& text, const char* name, void (CNetworkPage::*slot)()) {
        auto* made = new QAction(qtText(text), this);
        made->setObjectName(QString::fromLatin1(name));
        connect(made, &QAction::triggered, this, slot);
        return made;
    };
    m_historyAction = action(m_context.texts.LoadPageCaption("ZRQ406", "LinkHistory", "Menu", "Text"), "actLinkHistory",
                             &CNetworkPage::onLinkHistory);
    m_detailsAction = action(m_context.texts.LoadPageCaption("ZRQ406", "LinkDetails", "Menu", "Text"), "actLinkDetails",
                             &CNetworkPage::onLinkDetails);
    m_restartAction = action(layout.text("DeviceMenu"), "actRestart", &CNetworkPage::onRestart);
    m_removeAction =
        action(layout.text("DeviceMenu", "Text2"), "actRemoveFromNetwork", &CNetworkPage::onRemoveFromNetwork);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        // No rescan while the menu is open: it would empty the choice that the menu acts on.
        const WindowHold hold(m_main);
        QMenu menu(m_list);
        menu.addAction(m_historyAction);
        menu.addAction(m_detailsAction);
        menu.addSeparator();
        menu.addAction(m_restartAction);
        menu.addAction(m_removeAction);
        menu.exec(m_list->viewport()->mapToGlobal(at));
    });
    connect(m_list, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        const int row = m_list->indexOfTopLevelItem(item);
        if (column == Name && row == m_editedRow)
            nameEdited(row);
    });
    updateUpgradeButton();
}

void CNetworkPage::resizeEvent(QResizeEvent* event) {
    UtilityPage::resizeEvent(event);
    if (m_basePlaces.empty()) {
        // The language file's places: the page is as large as they reach, with the list's left margin beyond them.
        // (The first resize of a page comes before the tabs are laid out, at no size of the language file's.)
        QRect reach;
        for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            m_basePlaces.emplace_back(child, child->geometry());
            reach = reach.united(child->geometry());
        }
        m_baseSize = QSize(reach.right() + 1 + reach.left(), reach.bottom() + 1 + reach.left());
    }
    const int dw = std::max(0, width() - m_baseSize.width());
    const int dh = std::max(0, height() - m_baseSize.height());
    QRect list;
    for (const auto& [child, place] : m_basePlaces)
        if (child == m_list)
            list = place;
    for (const auto& [child, place] : m_basePlaces) {
        if (child == m_list)
            child->setGeometry(place.adjusted(0, 0, dw, dh));
        else if (child == m_picture || child == m_publicKey)
            child->setGeometry(place.adjusted(0, child == m_picture ? 0 : dh, dw, child == m_picture ? 0 : dh));
        else if (place.top() >= list.bottom())
            child->setGeometry(place.translated(place.left() > list.center().x() ? dw : 0, dh));
    }
}

void CNetworkPage::setActionsEnabled(bool enabled) {
    m_actionsEnabled = enabled;
    for (QWidget* control : std::initializer_list<QWidget*>{m_list, m_rename, m_reset, m_led, m_scan, m_toEncryption})
        control->setEnabled(enabled);
    for (QAction* action : {m_restartAction, m_removeAction, m_detailsAction})
        action->setEnabled(enabled);
    // Firmware Upgrade comes back only with a chosen device: a scan empties the choice, an LED change keeps it.
    updateUpgradeButton();
}

void CNetworkPage::updateUpgradeButton() {
    m_upgrade->setEnabled(m_actionsEnabled && m_list->selectedRow() >= 0);
}

void CNetworkPage::fillFromScan(const ScanTable& scan, const std::string& networkType) {
    ListRows rows;
    for (int i = 0; i < scan.count; ++i) {
        const DeviceRecord& d = scan.entries[i];
        rows.push_back({fieldText(d.name), fieldText(d.mac), fieldText(d.location), fieldText(d.quality),
                        fieldText(d.phyRate), fieldText(d.led), fieldText(d.firmware)});
    }
    m_editedRow = -1;
    m_list->setRows(rows);
    // The hosts behind each device that told them; a device that did not gets no line.
    const app::LinkTexts& texts = m_linkTexts;
    for (int i = 0; i < scan.count; ++i) {
        const auto mac = MacAddress::parse(fieldText(scan.entries[i].mac));
        const auto it = mac ? m_context.hosts.find(*mac) : m_context.hosts.end();
        if (it != m_context.hosts.end())
            m_list->setRowToolTip(i, qtText(app::hostsText(it->second, texts.hosts, texts.noHosts)));
    }
    m_publicKey->setVisible(m_context.publicKey);
    m_toEncryption->setVisible(m_context.publicKey);
    m_detecting->setText(qtText(m_context.texts.LoadPageCaption("ZRQ406", "NetworkTab", "Detecting", "Text2")));
    m_deviceCount->setText(QString::number(scan.count));
    m_networkType->setText(qtText(networkType));
    updateUpgradeButton();
    Q_EMIT devicesShown(scan.count);
}

void CNetworkPage::showNoDevice() {
    m_editedRow = -1;
    m_list->setRows({});
    m_detecting->setText(qtText(m_context.texts.LoadPageCaption("ZRQ406", "NetworkTab", "Detecting", "Text2")));
    m_deviceCount->setText(QStringLiteral("0"));
    m_networkType->clear();
    m_publicKey->hide();
    m_toEncryption->hide();
    updateUpgradeButton();
}

ListRows CNetworkPage::rows() const {
    return m_list->rows();
}

void CNetworkPage::onLinkHistory() {
    const WindowHold hold(m_main);
    const int row = m_list->selectedRow();
    const ListRows rows = m_list->rows();
    const std::string mac = row >= 0 && static_cast<std::size_t>(row) < rows.size() ? rows[row][Mac] : std::string();
    CLinkHistoryDialog dialog(m_context, mac, this);
    dialog.exec();
}

void CNetworkPage::onLinkDetails() {
    // The chosen device's link with the local device; for the local device itself, its weakest link.
    const int row = m_list->selectedRow();
    const ListRows rows = m_list->rows();
    if (row < 0 || static_cast<std::size_t>(row) >= rows.size())
        return;
    const auto chosen = MacAddress::parse(rows[static_cast<std::size_t>(row)][Mac]);
    const app::LinkTable& table = m_main.networkMapPage()->map()->table();
    if (!chosen || table.stations.size() < 2)
        return;
    const MacAddress local = table.stations.front();
    if (*chosen != local) {
        m_main.openLinkDetails(local, *chosen);
        return;
    }
    for (const app::LinkRow& link : app::sortedWeakestFirst(table.rows)) {
        if (link.from == local) {
            m_main.openLinkDetails(link.from, link.to);
            return;
        }
    }
}

void CNetworkPage::onRename() {
    const WindowHold hold(m_main);
    const int row = m_list->selectedRow();
    if (row < 0) {
        m_context.showMessage("msg53", MessageIcon::Warning);
    } else {
        UtilityContext::noteEditedRow(m_context.renamedRows, row);
        QTreeWidgetItem* item = m_list->topLevelItem(row);
        {
            // A change of flags is reported as a change of the item, which is no edit.
            const QSignalBlocker blocker(m_list);
            item->setFlags(item->flags() | Qt::ItemIsEditable);
        }
        m_editedRow = row;
        m_nameBeforeEdit = m_list->cell(row, Name);
        m_list->editItem(item, Name);
        m_list->selectRow(row);
    }
}

void CNetworkPage::nameEdited(int row) {
    QTreeWidgetItem* item = m_list->topLevelItem(row);
    const QSignalBlocker blocker(m_list);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    m_editedRow = -1;
    std::string name = m_list->cell(row, Name);
    if (name.empty()) {
        m_list->setCell(row, Name, m_nameBeforeEdit);
        m_context.showMessage("msg52", MessageIcon::Warning);
        return;
    }
    // The name field holds 39 bytes; a longer name is cut where a character ends.
    name = std::string(truncateUtf8(name, kNameBytes));
    m_list->setCell(row, Name, name);
    m_main.deviceRenamed(row, m_list->cell(row, Mac), name);
}

int CNetworkPage::chosenRow() {
    const int row = m_list->selectedRow();
    if (row < 0)
        m_context.showMessage("msg53", MessageIcon::Warning);
    return row;
}

std::optional<CNetworkPage::ChosenDevice> CNetworkPage::chosenDevice() {
    const int row = chosenRow();
    if (row < 0)
        return std::nullopt;
    return ChosenDevice{row, m_list->cell(row, Mac), m_list->cell(row, Name)};
}

void CNetworkPage::onScan() {
    m_main.startManualScan();
}

void CNetworkPage::onFactoryReset() {
    const WindowHold hold(m_main);
    const auto device = chosenDevice();
    if (!device)
        return;
    const std::string question = fillPlaceholders(m_context.message("msg51"), {device->name});
    if (m_context.show(question, MessageIcon::Warning, MessageButtons::OkCancel) != MessageAnswer::Ok)
        return;
    runOperation(m_main, [this, d = *device] { factoryResetWorker(d.row, d.mac, d.name); });
}

void CNetworkPage::factoryResetWorker(int, const std::string& macText, const std::string& name) {
    const bool reset = app::factoryResetAndWait(m_context.session, MacAddress::fromText(macText));
    const std::string device = "\n\n" + name + " (" + macText + ")";
    m_context.show(m_context.message(app::factoryResetResultKey(reset)) + device,
                   reset ? MessageIcon::Information : MessageIcon::Stop);
    // The rescan does not report a missing network itself: the reset's follow-up does.
    const bool found = m_main.manualScanBody(true);
    const char* followUp =
        app::factoryResetFollowUpKey(reset, found, m_context.session.registry().scanTable().contains(macText));
    // A device that was reset is named; a missing network is told as it always is.
    if (followUp != nullptr)
        m_context.show(m_context.message(followUp) + (reset ? device : std::string()), MessageIcon::Information);
}

void CNetworkPage::onRestart() {
    const WindowHold hold(m_main);
    if (const auto device = chosenDevice())
        runOperation(m_main, [this, d = *device] { restartWorker(d.mac, d.name); });
}

void CNetworkPage::restartWorker(const std::string& macText, const std::string& name) {
    const app::RestartResult result = app::restartAndWait(m_context.session, MacAddress::fromText(macText));
    tellAndRescan(app::restartResultKey(result), result == app::RestartResult::Done, name, macText);
}

void CNetworkPage::onRemoveFromNetwork() {
    const WindowHold hold(m_main);
    const auto device = chosenDevice();
    if (!device)
        return;
    const std::string question = fillPlaceholders(m_context.message(app::removeFromNetworkQuestionKey()),
                                                  {device->name + " (" + device->mac + ")"});
    if (m_context.show(question, MessageIcon::Warning, MessageButtons::YesNo) != MessageAnswer::Yes)
        return;
    runOperation(m_main, [this, d = *device] { removeWorker(d.mac, d.name); });
}

void CNetworkPage::removeWorker(const std::string& macText, const std::string& name) {
    const bool removed = app::removeFromNetwork(m_context.session, MacAddress::fromText(macText));
    tellAndRescan(app::removeFromNetworkResultKey(removed), removed, name, macText);
}

void CNetworkPage::tellAndRescan(const std::string& key, bool done, const std::string& name,
                                 const std::string& macText) {
    m_context.show(m_context.message(key) + "\n\n" + name + " (" + macText + ")",
                   done ? MessageIcon::Information : MessageIcon::Stop);
    m_main.manualScanBody(false);
}

void CNetworkPage::onLedStatus() {
    const WindowHold hold(m_main);
    const int row = chosenRow();
    if (row < 0)
        return;
    const std::string mac = m_list->cell(row, Mac);
    CSetLED dialog(m_context, m_list->cell(row, Name), mac, m_list->cell(row, Led), this);
    if (dialog.exec() != CSetLED::kApplied)
        return;
    const bool on = dialog.enableChosen();
    runOperation(m_main, [this, row, mac, on] { ledWorker(row, mac, on); });
}

void CNetworkPage::ledWorker(int row, const std::string& macText, bool on) {
    const app::LedChange change = app::switchLedAndWait(m_context.session, MacAddress::fromText(macText), on);
    if (change != app::LedChange::Done && change != app::LedChange::Unchanged) {
        m_context.showMessage("msg39", MessageIcon::Stop);
        return;
    }
    callOnThread(this, [&] {
        // The row may have changed meanwhile only through a scan, which the busy state keeps away.
        if (m_list->cell(row, Mac) != macText)
            return;
        const ValueTexts& words = m_context.session.registry().valueTexts();
        m_list->setCell(row, Led, on ? words.ledOn : words.ledOff);
        UtilityContext::noteEditedRow(m_context.ledChangedRows, row);
    });
    m_context.showMessage("msg38", MessageIcon::Information);
}

void CNetworkPage::onFirmwareUpgrade() {
    const WindowHold hold(m_main);
    const int row = chosenRow();
    if (row < 0)
        return;
    if (m_list->cell(row, Firmware).find("-JP-") != std::string::npos) {
        m_context.showMessage("msg28", MessageIcon::Warning);
        return;
    }
    CUpgradePage dialog(m_main, m_list->cell(row, Mac), this);
    dialog.exec();
}

} // namespace zrq406::utility
