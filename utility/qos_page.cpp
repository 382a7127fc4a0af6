#include "utility/qos_page.h"

#include "app/qos_actions.h"
#include "app/utility_flows.h"
#include "gui/page_layout.h"
#include "gui/picture_box.h"
#include "gui/report_list.h"
#include "gui/run_operation.h"
#include "gui/widget_font.h"
#include "gui/window_thread.h"
#include "mme/qos_settings.h"
#include "platform/text_field.h"
#include "uitext/load_ui_setting.h"
#include "utility/main_dialog.h"
#include "utility/utility_context.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStyledItemDelegate>

namespace zrq406::utility {

namespace {

constexpr char kPage[] = "QoSTab";
// Entries keep their last good address or port, and a number that finds them again after an edit.
constexpr int kKeyRole = Qt::UserRole;
constexpr int kIdRole = Qt::UserRole + 1;
// A new entry starts with a raised priority: that is what a destination is named for.
constexpr mme::QosPriority kNewEntryPriority = mme::QosPriority::Cap2;

// Edits the entries of the MAC address and port lists in place: the address or port in a line, the priority
// from the five words.
class EntryDelegate : public QStyledItemDelegate {
public:
    EntryDelegate(std::vector<std::string> words, int maxLength, QObject* parent)
        : QStyledItemDelegate(parent), m_words(std::move(words)), m_maxLength(maxLength) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        if (index.column() == CQoSPage::Priority) {
            auto* box = new QComboBox(parent);
            for (const std::string& word : m_words)
                box->addItem(qtText(word));
            return box;
        }
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(editor))
            line->setMaxLength(m_maxLength);
        return editor;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        if (auto* box = qobject_cast<QComboBox*>(editor)) {
            box->setCurrentIndex(std::max(0, box->findText(index.data().toString())));
            return;
        }
        QStyledItemDelegate::setEditorData(editor, index);
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
        if (auto* box = qobject_cast<QComboBox*>(editor)) {
            model->setData(index, box->currentText());
            return;
        }
        QStyledItemDelegate::setModelData(editor, model, index);
    }

private:
    std::vector<std::string> m_words;
    int m_maxLength;
};

QTreeWidgetItem* entryWithId(ReportList* list, int id) {
    for (int r = 0; r < list->topLevelItemCount(); ++r)
        if (list->topLevelItem(r)->data(CQoSPage::Key, kIdRole).toInt() == id)
            return list->topLevelItem(r);
    return nullptr;
}

} // namespace

CQoSPage::CQoSPage(CHomePlugDeviceManagerDlg& main) : UtilityPage(nullptr), m_main(main), m_context(main.context()) {
    setObjectName(QStringLiteral("CQoSPage"));
    CLoadUISetting& texts = m_context.texts;
    for (int i = 1; i <= mme::kQosPriorityCount; ++i)
        m_words.push_back(texts.LoadPageCaption("ZRQ406", "Priority", "Value" + std::to_string(i)));
    PageLayout layout(texts, kPage);
    const std::string caption = texts.LoadPageCaption("ZRQ406", kPage, "Text");

    m_picture = new PictureBox(QStringLiteral("qos"), this);
    layout.rect(m_picture, "pictureBox3", 1103, caption);
    auto* deviceCaption = layout.add<QLabel>(this, "label57", 1084);
    m_device = new QComboBox(this);
    layout.rect(m_device, "cmbQosDevice", 1039, stdText(deviceCaption->text()));
    deviceCaption->setBuddy(m_device);

    auto* mapGroup = layout.add<QGroupBox>(this, "VLANTOSGroup", 1085);
    m_vlanOn = layout.add<QCheckBox>(this, "VLANOverride", 1014);
    m_tosOn = layout.add<QCheckBox>(this, "TOSBitOverride", 1016);
    auto* vlanHeading = layout.add<QLabel>(this, "label107", 1092);
    auto* tosHeading = layout.add<QLabel>(this, "label56", 1093);
    std::array<QLabel*, 8> rowLabels{};
    for (int i = 0; i < 8; ++i) {
        rowLabels[i] = new QLabel(this);
        layout.control(rowLabels[i], "label" + std::to_string(71 + i), 1071 + i);
    }
    auto makeMapBox = [&](const std::string& node, int dialogId, const QLabel* heading, const QLabel* row) {
        auto* box = new QComboBox(this);
        for (const std::string& w : m_words)
            box->addItem(qtText(w));
        QString rowText = row->text().trimmed();
        if (rowText.endsWith(QLatin1Char(':')))
            rowText.chop(1);
        layout.rect(box, node, dialogId, stdText(heading->text() + QStringLiteral(", ") + rowText));
        return box;
    };
    for (int i = 0; i < 8; ++i)
        m_vlan[i] =
            makeMapBox("VLAN" + std::to_string(i) + "Priority", i == 0 ? 1008 : 1016 + i, vlanHeading, rowLabels[i]);
    for (int i = 0; i < 8; ++i)
        m_tos[i] = makeMapBox("TOS" + std::to_string(i) + "Priority", 1024 + i, tosHeading, rowLabels[i]);

    auto* destinationGroup = layout.add<QGroupBox>(this, "groupBox27", 1094);
    auto* destinationNote = new QLabel(this);
    destinationNote->setWordWrap(true);
    layout.control(destinationNote, "label58", 1096);
    m_macList = new ReportList(this);
    setUpEntryList(m_macList, "lstQosMacAddress", {"colMacAddress", "colMacCAP"}, 1007,
                   texts.LoadPageCaption("ZRQ406", "DestMACAddress", "Value"));
    m_portList = new ReportList(this);
    setUpEntryList(m_portList, "lstQosPort", {"colPort", "colPortCAP"}, 1056,
                   texts.LoadPageCaption("ZRQ406", "DestIPPort", "Value"));
    m_summary = new ReportList(this);
    layout.rect(m_summary, "listView5", 1053, caption);
    layout.columns(m_summary, "listView5", {"columnHeader5", "columnHeader6"});
    m_write = layout.add<QPushButton>(this, "button_QoS_Apply", 1036);
    ApplyDialogFont(this, texts);
    // The controls of the two groups lie over their frames, as siblings, where the language file puts them.
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child != mapGroup && child != destinationGroup)
            child->raise();

    m_write->setAutoDefault(false);
    connect(m_device, &QComboBox::activated, this, &CQoSPage::onDeviceChosen);
    connect(m_write, &QPushButton::clicked, this, &CQoSPage::onWrite);
    for (QCheckBox* box : {m_vlanOn, m_tosOn})
        connect(box, &QCheckBox::toggled, this, &CQoSPage::updateEnabled);
    forgetDevice();
}

void CQoSPage::setUpEntryList(ReportList* list, const std::string& node, const std::vector<std::string>& columns,
                              int dialogId, const std::string& caption) {
    PageLayout layout(m_context.texts, kPage);
    layout.rect(list, node, dialogId, caption);
    layout.columns(list, node, columns);
    const bool macs = list == m_macList;
    list->setItemDelegate(new EntryDelegate(m_words, macs ? 17 : 5, list));
    list->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    list->installEventFilter(this);
    connect(list, &QTreeWidget::itemChanged, this, [this, list](QTreeWidgetItem* item, int column) {
        if (m_filling)
            return;
        if (column == Key) {
            // Checked once the edit has ended, so that a message never opens inside the editor's commit.
            const int id = item->data(Key, kIdRole).toInt();
            QMetaObject::invokeMethod(
                this, [this, list, id] { checkEntry(list, id); }, Qt::QueuedConnection);
        } else {
            refreshSummary();
        }
    });
    connect(list->itemDelegate(), &QAbstractItemDelegate::closeEditor, this, [this, list] {
        QMetaObject::invokeMethod(
            this, [this, list] { dropUnfinishedEntries(list); }, Qt::QueuedConnection);
    });
    connect(list, &QWidget::customContextMenuRequested, this, [this, list](const QPoint& at) {
        const std::string add = m_context.texts.LoadPageCaption("ZRQ406", kPage, "QosEntryMenu", "Text");
        const std::string change = m_context.texts.LoadPageCaption("ZRQ406", kPage, "QosEntryMenu", "Text2");
        const std::string remove = m_context.texts.LoadPageCaption("ZRQ406", kPage, "QosEntryMenu", "Text3");
        QMenu menu(list);
        menu.addAction(qtText(add), this, [this, list] { addEntry(list); });
        const bool selected = list->selectedRow() >= 0;
        menu.addAction(qtText(change), this, [this, list] { editEntry(list); })->setEnabled(selected);
        menu.addAction(qtText(remove), this, [this, list] { deleteEntry(list); })->setEnabled(selected);
        menu.exec(list->viewport()->mapToGlobal(at));
    });
}

bool CQoSPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && (watched == m_macList || watched == m_portList)) {
        auto* list = static_cast<ReportList*>(watched);
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Insert:
            addEntry(list);
            return true;
        case Qt::Key_Delete:
            deleteEntry(list);
            return true;
        default:
            break;
        }
    }
    return UtilityPage::eventFilter(watched, event);
}

std::string CQoSPage::word(mme::QosPriority priority) const {
    const auto index = static_cast<std::size_t>(priority);
    return index < m_words.size() ? m_words[index] : std::string();
}

mme::QosPriority CQoSPage::priorityOfWord(const std::string& text) const {
    for (std::size_t i = 0; i < m_words.size(); ++i)
        if (m_words[i] == text)
            return static_cast<mme::QosPriority>(i);
    return mme::QosPriority::Default;
}

void CQoSPage::setActionsEnabled(bool enabled) {
    m_actionsEnabled = enabled;
    updateEnabled();
}

void CQoSPage::updateEnabled() {
    // The settings can be changed once a device's settings were read; a map's priorities only while it is used.
    const bool loaded = m_actionsEnabled && !m_shownMac.empty();
    m_device->setEnabled(m_actionsEnabled && m_device->count() > 0);
    for (QWidget* control : std::initializer_list<QWidget*>{m_vlanOn, m_tosOn, m_macList, m_portList, m_write})
        control->setEnabled(loaded);
    for (QComboBox* box : m_vlan)
        box->setEnabled(loaded && m_vlanOn->isChecked());
    for (QComboBox* box : m_tos)
        box->setEnabled(loaded && m_tosOn->isChecked());
}

void CQoSPage::fillFromScan(const ScanTable& scan, const std::string&) {
    // The device shown stays chosen, with whatever the user changed, as long as the scan still finds it.
    const std::string shown = m_shownMac;
    {
        const QSignalBlocker blocker(m_device);
        m_device->clear();
        for (int i = 0; i < scan.count; ++i) {
            const DeviceRecord& d = scan.entries[i];
            m_device->addItem(qtText(fieldText(d.name) + "  [" + fieldText(d.mac) + "]"), qtText(fieldText(d.mac)));
        }
        m_device->setCurrentIndex(shown.empty() ? -1 : m_device->findData(qtText(shown)));
    }
    if (m_device->currentIndex() < 0)
        forgetDevice();
    updateEnabled();
}

void CQoSPage::showNoDevice() {
    {
        const QSignalBlocker blocker(m_device);
        m_device->clear();
    }
    forgetDevice();
}

void CQoSPage::renameDevice(const std::string& mac, const std::string& name) {
    const int index = m_device->findData(qtText(mac));
    if (index >= 0)
        m_device->setItemText(index, qtText(name + "  [" + mac + "]"));
}

void CQoSPage::forgetDevice() {
    m_shownMac.clear();
    {
        const QSignalBlocker blocker(m_device);
        m_device->setCurrentIndex(-1);
    }
    showSettings(mme::QosSettings::defaults());
    updateEnabled();
}

void CQoSPage::showSettings(const mme::QosSettings& s) {
    m_filling = true;
    m_vlanOn->setChecked(s.vlanEnabled);
    m_tosOn->setChecked(s.tosEnabled);
    for (std::size_t i = 0; i < 8; ++i) {
        m_vlan[i]->setCurrentIndex(static_cast<int>(s.vlanMap[i]));
        m_tos[i]->setCurrentIndex(static_cast<int>(s.tosMap[i]));
    }
    auto fill = [this](ReportList* list, const ListRows& rows) {
        list->setRows(rows);
        for (int r = 0; r < list->topLevelItemCount(); ++r) {
            QTreeWidgetItem* item = list->topLevelItem(r);
            item->setFlags(item->flags() | Qt::ItemIsEditable);
            item->setData(Key, kKeyRole, item->text(Key));
            item->setData(Key, kIdRole, m_nextEntryId++);
        }
    };
    ListRows macs;
    for (const auto& rule : s.macRules)
        macs.push_back({rule.mac.text(), word(rule.priority)});
    fill(m_macList, macs);
    ListRows ports;
    for (const auto& rule : s.portRules)
        ports.push_back({std::to_string(rule.port), word(rule.priority)});
    fill(m_portList, ports);
    m_filling = false;
    refreshSummary();
    updateEnabled();
}

mme::QosSettings CQoSPage::settings() const {
    mme::QosSettings s;
    s.vlanEnabled = m_vlanOn->isChecked();
    s.tosEnabled = m_tosOn->isChecked();
    for (std::size_t i = 0; i < 8; ++i) {
        s.vlanMap[i] = static_cast<mme::QosPriority>(std::max(0, m_vlan[i]->currentIndex()));
        s.tosMap[i] = static_cast<mme::QosPriority>(std::max(0, m_tos[i]->currentIndex()));
    }
    // Only entries whose address or port was accepted are settings.
    for (const auto& row : m_macList->rows())
        if (const auto mac = MacAddress::parse(row[Key]))
            s.macRules.push_back({*mac, priorityOfWord(row[Priority])});
    for (const auto& row : m_portList->rows())
        if (const auto port = app::parseQosPort(row[Key]))
            s.portRules.push_back({*port, priorityOfWord(row[Priority])});
    return s;
}

void CQoSPage::refreshSummary() {
    const mme::QosSettings s = settings();
    const std::string macWord = m_context.texts.LoadPageCaption("ZRQ406", "DestMACAddress", "Value");
    const std::string portWord = m_context.texts.LoadPageCaption("ZRQ406", "DestIPPort", "Value");
    ListRows rows;
    for (const auto& rule : s.macRules)
        rows.push_back({macWord + " " + rule.mac.text(), word(rule.priority)});
    for (const auto& rule : s.portRules)
        rows.push_back({portWord + " " + std::to_string(rule.port), word(rule.priority)});
    m_summary->setRows(rows);
}

void CQoSPage::addEntry(ReportList* list) {
    if (!list->isEnabled())
        return;
    if (list->topLevelItemCount() >= mme::qos::kMaxRules) {
        m_context.showMessage("msg13", MessageIcon::Exclamation);
        return;
    }
    m_filling = true;
    auto* item = new QTreeWidgetItem(list);
    item->setText(Priority, qtText(word(kNewEntryPriority)));
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    item->setData(Key, kIdRole, m_nextEntryId++);
    m_filling = false;
    list->selectRow(list->indexOfTopLevelItem(item));
    list->setCurrentItem(item, Key);
    list->editItem(item, Key);
}

void CQoSPage::editEntry(ReportList* list) {
    const int row = list->selectedRow();
    if (row >= 0 && list->isEnabled())
        list->editItem(list->topLevelItem(row), Key);
}

void CQoSPage::deleteEntry(ReportList* list) {
    const int row = list->selectedRow();
    if (row < 0 || !list->isEnabled())
        return;
    delete list->takeTopLevelItem(row);
    refreshSummary();
}

void CQoSPage::checkEntry(ReportList* list, int id) {
    QTreeWidgetItem* item = entryWithId(list, id);
    if (item == nullptr)
        return;
    const std::string typed = stdText(item->text(Key).trimmed());
    std::string accepted;
    if (list == m_macList) {
        if (const auto mac = MacAddress::parse(typed))
            accepted = mac->text();
    } else if (const auto port = app::parseQosPort(typed)) {
        accepted = std::to_string(*port);
    }
    const QString before = item->data(Key, kKeyRole).toString();
    m_filling = true;
    if (!accepted.empty()) {
        item->setText(Key, qtText(accepted));
        item->setData(Key, kKeyRole, qtText(accepted));
    } else if (before.isEmpty()) {
        delete item;
    } else {
        item->setText(Key, before);
    }
    m_filling = false;
    refreshSummary();
    // The list is as it was before the edit before the message is shown.
    if (accepted.empty())
        m_context.showMessage(list == m_macList ? "msg11" : "msg12", MessageIcon::Exclamation);
    Q_EMIT entryChecked();
}

void CQoSPage::dropUnfinishedEntries(ReportList* list) {
    for (int r = list->topLevelItemCount() - 1; r >= 0; --r) {
        QTreeWidgetItem* item = list->topLevelItem(r);
        if (item->data(Key, kKeyRole).toString().isEmpty() && item->text(Key).trimmed().isEmpty())
            delete item;
    }
    refreshSummary();
}

void CQoSPage::onDeviceChosen(int index) {
    if (m_main.isBusy() || index < 0)
        return;
    const std::string mac = stdText(m_device->itemData(index).toString());
    runOperation(m_main, [this, mac] { readWorker(mac); });
}

void CQoSPage::readWorker(const std::string& mac) {
    const app::QosRead read = app::readQosSettings(m_context.session, MacAddress::fromText(mac));
    if (read.result == mme::ReadResult::Done) {
        callOnThread(this, [&] {
            m_shownMac = mac;
            showSettings(read.decoded.settings);
        });
        return;
    }
    callOnThread(this, [this] { forgetDevice(); });
    m_context.showMessage("msg45", MessageIcon::Stop);
}

void CQoSPage::onWrite() {
    if (m_main.isBusy() || m_shownMac.empty())
        return;
    const std::string mac = m_shownMac;
    const mme::QosSettings s = settings();
    runOperation(m_main, [this, mac, s] { writeWorker(mac, s); });
}

void CQoSPage::writeWorker(const std::string& mac, const mme::QosSettings& s) {
    switch (app::writeQosSettingsAndWait(m_context.session, MacAddress::fromText(mac), s)) {
    case app::QosWrite::Done:
        m_context.showMessage("msg40", MessageIcon::Information);
        break;
    case app::QosWrite::ReadFailed:
    case app::QosWrite::ForeignArea:
        m_context.showMessage("msg45", MessageIcon::Stop);
        break;
    case app::QosWrite::Invalid:
    case app::QosWrite::WriteFailed:
        m_context.showMessage("msg41", MessageIcon::Stop);
        break;
    }
}

} // namespace zrq406::utility
