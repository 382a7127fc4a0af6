#include "utility/main_dialog.h"

#include "app/device_extras.h"
#include "app/instance_names.h"
#include "app/scan_cycle.h"
#include "gui/page_layout.h"
#include "gui/picture_box.h"
#include "gui/report_list.h"
#include "gui/run_operation.h"
#include "gui/widget_font.h"
#include "gui/widget_target.h"
#include "gui/window_thread.h"
#include "platform/paths.h"
#include "platform/text_field.h"
#include "registry/device_registry.h"
#include "uitext/load_ui_setting.h"
#include "uitext/placeholders.h"
#include "utility/about_page.h"
#include "utility/diagnostics_page.h"
#include "utility/encryption_page.h"
#include "utility/link_details_dialog.h"
#include "utility/network_map.h"
#include "utility/network_map_page.h"
#include "utility/network_page.h"
#include "utility/qos_page.h"
#include "utility/utility_context.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QResizeEvent>
#include <QSocketNotifier>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

namespace zrq406::utility {

namespace {
// The pause of the start-up and manual scans before they start, and after a start-up scan that found nothing.
constexpr double kScanPauseMs = 2000;
constexpr char kRoot[] = "ZRQ406";
// The local device answered but the station list could not be read; the lists keep the last scan.
constexpr char kStationListUnread[] = "msg81";
// A device action asked for while another device operation still runs.
constexpr char kOperationRunning[] = "msg83";
// A device operation stopped by an unexpected fault (%s: what went wrong).
constexpr char kOperationFailed[] = "msg84";
} // namespace

CHomePlugDeviceManagerDlg::CHomePlugDeviceManagerDlg(UtilityContext& context, QWidget* parent)
    : QDialog(parent), m_context(context), m_workers(std::make_unique<WorkerRunner>(this)) {
    setObjectName(QStringLiteral("CHomePlugDeviceManagerDlg"));
    setWindowIcon(PictureBox::applicationIcon());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowMinimizeButtonHint, true);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    layOut();
    createPages();
    m_scanTimer = new QTimer(this);
    m_scanTimer->setObjectName(QStringLiteral("ScanTimer"));
    connect(m_scanTimer, &QTimer::timeout, this, &CHomePlugDeviceManagerDlg::onScanTimer);
    connect(m_tabs, &QTabWidget::currentChanged, this, [this] {
        // Switching pages restarts the rescan period and shows pending edits in the Device History list.
        if (m_scanTimer->isActive())
            m_scanTimer->start(m_context.scanIntervalMs);
        m_diagnostics->applyPendingEdits(m_network->rows(), m_context.renamedRows, m_context.ledChangedRows);
    });
    m_context.thresholds = app::scanFirmwareImages(m_context.imageFiles);
}

CHomePlugDeviceManagerDlg::~CHomePlugDeviceManagerDlg() {
    // Workers may be waiting on this window; they finish before anything of it goes away.
    m_workers->waitForIdle();
}

void CHomePlugDeviceManagerDlg::layOut() {
    CLoadUISetting& texts = m_context.texts;
    setWindowTitle(qtText(m_context.title));
    const int width = texts.LoadFontSize(kRoot, "Utility", "Size_w");
    const int height = texts.LoadFontSize(kRoot, "Utility", "Size_h");
    // The language file's size is the smallest; the window grows, and the tabs with it (resizeEvent).
    if (width > 0 && height > 0) {
        setMinimumSize(width, height);
        resize(width, height);
    }
    m_tabs = new QTabWidget(this);
    m_exit = new QPushButton(this);
    m_note = new QLabel(this);
    m_note->setWordWrap(true);
    PageLayout layout(texts, "Utility");
    layout.control(m_exit, "CloseButton", 1037);
    layout.control(m_note, "Note", 1106);
    m_tabs->setObjectName(QStringLiteral("tabControl1"));
    m_tabs->setProperty("dialogId", 1000);
    if (texts.LoadBasicCtrl4(nullptr, kRoot, "tabControl1", "")) {
        const BasicCtrlInfo& r = texts.LastPageRect();
        m_tabs->setGeometry(r.x, r.y, r.width, r.height);
    }
    ApplyDialogFont(this, texts);
    m_baseSize = QSize(width, height);
    m_baseTabs = m_tabs->geometry();
    m_baseExit = m_exit->geometry();
    m_baseNote = m_note->geometry();
    m_exit->setAutoDefault(false);
    connect(m_exit, &QPushButton::clicked, this, &CHomePlugDeviceManagerDlg::onExit);
}

void CHomePlugDeviceManagerDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (!m_baseSize.isValid() || m_baseSize.isEmpty())
        return;
    // The tabs take what the window gains; the Exit button and the note keep their place at its bottom.
    const int dw = std::max(0, width() - m_baseSize.width());
    const int dh = std::max(0, height() - m_baseSize.height());
    m_tabs->setGeometry(m_baseTabs.adjusted(0, 0, dw, dh));
    m_exit->setGeometry(m_baseExit.translated(dw, dh));
    m_note->setGeometry(m_baseNote.translated(0, dh).adjusted(0, 0, dw, 0));
}

void CHomePlugDeviceManagerDlg::createPages() {
    CLoadUISetting& texts = m_context.texts;
    m_network = new CNetworkPage(*this);
    m_tabs->addTab(m_network, qtText(texts.LoadPageCaption(kRoot, "NetworkTab", "Text")));
    m_map = new CNetworkMapPage(m_context);
    m_tabs->addTab(m_map, qtText(texts.LoadPageCaption(kRoot, "LinkMap", "Text")));
    // The device list and the map show the same selection, whichever the user chose it in.
    connect(m_network->list(), &QTreeWidget::itemSelectionChanged, this, &CHomePlugDeviceManagerDlg::syncMapSelection);
    connect(m_map->map(), &NetworkMap::stationChosen, this, [this](const MacAddress& mac) {
        ReportList* list = m_network->list();
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
            if (MacAddress::parse(list->cell(row, CNetworkPage::Mac)) == mac)
                list->selectRow(row);
        }
    });
    connect(m_map, &CNetworkMapPage::linkChosen, this, &CHomePlugDeviceManagerDlg::openLinkDetails);
    m_encryption = new CEncryptionPage(*this);
    m_tabs->addTab(m_encryption, qtText(texts.LoadPageCaption(kRoot, "EncryptionTab", "Text")));
    m_qos = new CQoSPage(*this);
    m_tabs->addTab(m_qos, qtText(texts.LoadPageCaption(kRoot, "QoSTab", "Text")));
    m_diagnostics = new CDiagnosticsPage(*this);
    m_tabs->addTab(m_diagnostics, qtText(texts.LoadPageCaption(kRoot, "MACConfigTab", "Text")));
    // The firmware upgrade dialog has no tab: the network page opens it.
    m_about = new CAboutPage(*this);
    m_tabs->addTab(m_about, qtText(texts.LoadPageCaption(kRoot, "AboutTab", "Text")));
    m_tabs->setCurrentIndex(0);
}

void CHomePlugDeviceManagerDlg::openLinkDetails(const MacAddress& from, const MacAddress& to) {
    // No rescan while the details are open: the dialog reads the devices as an operation of its own.
    const WindowHold hold(*this);
    CLinkDetailsDialog dialog(*this, from, to, this);
    dialog.exec();
}

void CHomePlugDeviceManagerDlg::showEncryptionPage() {
    m_tabs->setCurrentWidget(m_encryption);
}

void CHomePlugDeviceManagerDlg::syncMapSelection() {
    const int row = m_network->list()->selectedRow();
    const auto mac = row >= 0 ? MacAddress::parse(m_network->list()->cell(row, CNetworkPage::Mac)) : std::nullopt;
    m_map->map()->selectStation(mac.value_or(MacAddress{}));
}

std::vector<UtilityPage*> CHomePlugDeviceManagerDlg::pages() const {
    return {m_network, m_map, m_encryption, m_qos, m_diagnostics, m_about};
}

bool CHomePlugDeviceManagerDlg::start() {
    app::Session& session = m_context.session;
    const app::OpenResult opened = session.open(m_context.linkOptions);
    if (!opened || session.adapters().count() == 0) {
        std::string text = m_context.message("msg02");
        if (opened.failure == app::OpenFailure::MissingCapability) {
            std::string names;
            for (const std::string& name : opened.missing)
                names += (names.empty() ? "" : ", ") + name;
            // An installed frame helper is reached by joining its group; a build from source is given the
            // capabilities by hand.
            text += "\n\n" + (opened.helper.empty()
                                  ? fillPlaceholders(m_context.message("msg62"),
                                                     {names, (paths::executableDir() / "zrq406-config").string()})
                                  : fillPlaceholders(m_context.message("msg110"), {names, opened.helper}));
        } else if (opened.failure != app::OpenFailure::NoAdapter && !opened.error.empty())
            text += "\n\n" + opened.error;
        m_context.show(text, MessageIcon::Stop);
        m_closing = true;
        return false;
    }
    m_diagnostics->fillSystemInformation();
    // The start-up scan; the scan timer starts when it ends.
    runOperation(*this, [this] {
        const Pacing& pacing = m_context.session.pacing();
        pacing.sleep(kScanPauseMs);
        // With two devices answering as the attached one, their message stands instead of "no device".
        if (!scanFromWorker(false) && m_conflictTold.empty()) {
            pacing.sleep(kScanPauseMs);
            callOnThread(this, [this] { showNoDeviceState(true); });
            pacing.sleep(kScanPauseMs);
        }
    });
    watchInterfaces();
    return true;
}

void CHomePlugDeviceManagerDlg::busyState(int state) {
    switch (state) {
    case StartTimer:
        if (!m_closing && m_holds == 0)
            m_scanTimer->start(m_context.scanIntervalMs);
        break;
    case Enter:
        if (m_busy)
            return;
        m_busy = true;
        holdWindow();
        m_context.session.registry().clearInUseCount();
        setAllActionsEnabled(false);
        break;
    case Leave:
        if (!m_busy)
            return;
        setAllActionsEnabled(true);
        m_busy = false;
        if (m_context.session.hasCurrentAdapter())
            m_context.session.adapters().ArmReceiveSlots(m_context.session.adapters().currentAdapter());
        releaseWindow();
        break;
    default:
        break;
    }
}

void CHomePlugDeviceManagerDlg::holdWindow() {
    ++m_holds;
    m_scanTimer->stop();
}

void CHomePlugDeviceManagerDlg::releaseWindow() {
    if (m_holds > 0)
        --m_holds;
    if (m_holds > 0)
        return;
    if (m_closePending) {
        closeNow();
        return;
    }
    if (m_adaptersChanged) {
        m_adaptersChanged = false;
        reopenAdapters();
        return;
    }
    busyState(StartTimer);
}

std::shared_ptr<void> CHomePlugDeviceManagerDlg::beginOperation() {
    auto operation = std::make_shared<app::OperationLease>(m_context.session.runner().tryBegin());
    if (!*operation) {
        m_context.showMessage(kOperationRunning, MessageIcon::Information);
        return nullptr;
    }
    return operation;
}

void CHomePlugDeviceManagerDlg::operationFailed(const std::string& what) {
    m_context.show(fillPlaceholders(m_context.message(kOperationFailed), {what}), MessageIcon::Stop);
}

void CHomePlugDeviceManagerDlg::operationRefused(const std::string& why) {
    m_context.show(why, MessageIcon::Stop);
}

void CHomePlugDeviceManagerDlg::setAllActionsEnabled(bool enabled) {
    // Every page, not only the one shown: a page left locked would stay so after the user switches to it.
    for (UtilityPage* page : pages())
        page->setActionsEnabled(enabled);
    m_tabs->tabBar()->setEnabled(enabled);
    m_exit->setEnabled(enabled);
}

bool CHomePlugDeviceManagerDlg::scanFromWorker(bool showNoDeviceMessage) {
    app::Session& session = m_context.session;
    if (app::findLocalDevice(session, session.onlyAdapter()) < 0) {
        const std::string conflict = app::localConflictText(m_context.texts, session.discoveryResult());
        callOnThread(this, [&] {
            showNoDeviceState(showNoDeviceMessage && conflict.empty());
            tellLocalConflict(conflict);
        });
        return false;
    }
    buildAndShowScan();
    return true;
}

void CHomePlugDeviceManagerDlg::tellLocalConflict(const std::string& conflict) {
    // Told once for the same devices: the rescan every two minutes would repeat it while the impostor stays.
    if (!conflict.empty() && conflict != m_conflictTold)
        m_context.show(conflict, MessageIcon::Stop);
    m_conflictTold = conflict;
}

void CHomePlugDeviceManagerDlg::buildAndShowScan() {
    const std::string time = app::scanTimeText(m_context.german);
    const app::ScanReport report = app::buildScanRecords(m_context.session, time, &m_context.passwords);
    // The scan read the link table within its operation (every station at once, one answer time); the hosts behind
    // the devices are asked of all of them at once too.
    const app::LinkTable links = report.stationListUnread ? app::LinkTable{} : m_context.session.linkTable();
    app::HostsByDevice hosts;
    if (!report.stationListUnread) {
        std::vector<MacAddress> devices;
        const ScanTable& scan = m_context.session.registry().scanTable();
        for (int i = 0; i < scan.count; ++i) {
            if (const auto mac = MacAddress::parse(fieldText(scan.entries[i].mac)))
                devices.push_back(*mac);
        }
        hosts = app::readHostsOfAll(m_context.session, devices);
    }
    callOnThread(this, [&] {
        m_context.lastScanTime = time;
        if (!report.stationListUnread) {
            m_context.hosts = std::move(hosts);
            m_context.publicKey = app::networkUsesPublicKey(report.built).value_or(false);
        }
        finishScanCycle(report);
        if (!report.stationListUnread && !m_closePending) {
            m_map->setLinks(links, m_context.hosts);
            syncMapSelection();
        }
    });
}

void CHomePlugDeviceManagerDlg::finishScanCycle(const app::ScanReport& report) {
    m_conflictTold.clear();
    if (report.stationListUnread) {
        m_context.showMessage(kStationListUnread, MessageIcon::Warning);
        Q_EMIT scanFinished(true);
        return;
    }
    const ScanTable& scan = m_context.session.registry().scanTable();
    m_networkType = app::networkTypeText(m_context.texts, report.built);
    if (const std::string full = app::historyFullNotice(m_context.texts, report, m_historyFullTold); !full.empty())
        m_context.show(full, MessageIcon::Warning);
    if (!report.historyNotice.empty())
        m_context.show(report.historyNotice, MessageIcon::Warning);
    // The upgrade offer: at most once per scan, and never again for a device declined in this run.
    const int offer = app::upgradeOfferIndex(scan, m_context.thresholds, m_context.declined);
    if (offer >= 0) {
        // A tool that did not start counts as declined too: the offer and its failure would come back every rescan.
        const bool accepted =
            m_context.showMessage("msg60", MessageIcon::Information, MessageButtons::YesNo) == MessageAnswer::Yes;
        if (!accepted || !launchUpgradeTool())
            app::declineUpgrades(scan, offer, m_context.thresholds, m_context.declined);
    }
    if (!m_closePending) {
        for (UtilityPage* page : pages())
            page->fillFromScan(scan, m_networkType);
        refillHistoryList(m_context.session.registry().historyTable().inUseCount);
    }
    Q_EMIT scanFinished(true);
}

void CHomePlugDeviceManagerDlg::refillHistoryList(int count) {
    DeviceRegistry& registry = m_context.session.registry();
    m_diagnostics->setHistoryRows(registry.FillHistoryList(count, m_network->rows(), m_context.lastScanTime));
}

void CHomePlugDeviceManagerDlg::showNoDeviceState(bool showMessage) {
    m_networkType.clear();
    m_context.hosts.clear();
    m_context.publicKey = false;
    for (UtilityPage* page : pages())
        page->showNoDevice();
    m_diagnostics->fillSystemInformation();
    DeviceRegistry& registry = m_context.session.registry();
    if (registry.HistoryFileHasData()) {
        registry.clearHistoryTable();
        const HistoryLoadResult loaded = registry.LoadHistory();
        refillHistoryList(loaded.loaded);
    }
    if (showMessage)
        m_context.showMessage("msg24", MessageIcon::Information);
    Q_EMIT scanFinished(false);
}

void CHomePlugDeviceManagerDlg::startManualScan() {
    runOperation(*this, [this] { manualScanBody(false); });
}

bool CHomePlugDeviceManagerDlg::manualScanBody(bool quietWhenNothingFound) {
    m_context.session.pacing().sleep(kScanPauseMs);
    callOnThread(this, [this] { syncHistoryFromLists(); });
    return scanFromWorker(!quietWhenNothingFound);
}

bool CHomePlugDeviceManagerDlg::rediscoverAfterKeyChange() {
    callOnThread(this, [this] { syncHistoryFromLists(); });
    app::Session& session = m_context.session;
    // The local device is looked for again on the adapter where it was last found.
    const int adapter = session.hasCurrentAdapter() ? session.adapters().currentAdapter() : 0;
    bool found = false;
    const int attempts = session.isOpen() ? session.adapters().count() : 0;
    std::string conflict;
    for (int i = 0; i < attempts && !found && conflict.empty(); ++i) {
        found = app::findLocalDevice(session, adapter) >= 0;
        conflict = app::localConflictText(m_context.texts, session.discoveryResult());
    }
    if (found) {
        buildAndShowScan();
    } else {
        callOnThread(this, [&] {
            showNoDeviceState(conflict.empty());
            tellLocalConflict(conflict);
        });
    }
    return found;
}

void CHomePlugDeviceManagerDlg::onScanTimer() {
    // A tick that was already queued when a dialog or an operation took the window is dropped; the last release
    // starts the period again.
    if (m_holds > 0 || m_closing)
        return;
    syncHistoryFromLists();
    runOperation(*this, [this] { scanFromWorker(true); });
}

void CHomePlugDeviceManagerDlg::syncHistoryFromLists() {
    // Before the first scan or history load has filled the lists, they hold nothing to save: writing them would
    // empty the history file.
    if (!m_diagnostics->historyFilled())
        return;
    m_context.session.registry().SyncHistoryFromLists(m_diagnostics->historyRows(), m_network->rows(),
                                                      m_encryption->rows(), m_context.renamedRows,
                                                      m_context.ledChangedRows);
}

void CHomePlugDeviceManagerDlg::deviceRenamed(int row, const std::string& mac, const std::string& name) {
    m_encryption->renameDevice(mac, name);
    m_qos->renameDevice(mac, name);
    m_diagnostics->renameDevice(mac, name);
    ScanTable& scan = m_context.session.registry().scanTable();
    if (row >= 0 && row < scan.count && fieldText(scan.entries[row].mac) == mac)
        copyToField(scan.entries[row].name, name);
    HistoryTable& history = m_context.session.registry().historyTable();
    for (HistoryRecord& record : history.records)
        if (fieldText(record.mac) == mac)
            copyToField(record.name, name);
}

void CHomePlugDeviceManagerDlg::renameDevice(const std::string& mac, const std::string& name) {
    ReportList* list = m_network->list();
    int row = -1;
    for (int r = 0; r < list->topLevelItemCount() && row < 0; ++r)
        if (list->cell(r, CNetworkPage::Mac) == mac)
            row = r;
    if (row >= 0) {
        list->setCell(row, CNetworkPage::Name, name);
        UtilityContext::noteEditedRow(m_context.renamedRows, row);
    }
    deviceRenamed(row, mac, name);
    syncHistoryFromLists();
}

void CHomePlugDeviceManagerDlg::onExit() {
    // Exit is locked with the busy state; the check keeps a click already queued from closing under an operation.
    if (m_busy)
        return;
    syncHistoryFromLists();
    closeNow();
}

void CHomePlugDeviceManagerDlg::closeNow() {
    m_closing = true;
    m_scanTimer->stop();
    done(QDialog::Accepted);
}

void CHomePlugDeviceManagerDlg::closeEvent(QCloseEvent* event) {
    if (m_closing) {
        event->accept();
        return;
    }
    // The window's close button does nothing while a scan or a device operation runs.
    if (m_busy || m_workers->busy()) {
        event->ignore();
        return;
    }
    syncHistoryFromLists();
    m_closing = true;
    m_scanTimer->stop();
    event->accept();
    done(QDialog::Rejected);
}

void CHomePlugDeviceManagerDlg::reject() {
    // Escape closes the window as its close button does.
    close();
}

bool CHomePlugDeviceManagerDlg::launchUpgradeTool() {
    m_closePending = true;
    m_scanTimer->stop();
    // The upgrade tool starts beside a running utility only while this lock exists.
    m_context.bothRun.acquire(app::kBothRunInstance);
    QStringList arguments;
    if (const auto& simulate = m_context.linkOptions.simulate)
        arguments << (simulate->empty() ? QStringLiteral("--simulate")
                                        : QStringLiteral("--simulate=") + qtText(*simulate));
    QProcess process;
    process.setProgram(QString::fromStdString(m_context.upgradeToolPath.string()));
    process.setArguments(arguments);
    if (process.startDetached())
        return true;
    // Nothing started: the utility stays open and says why.
    m_context.bothRun.release();
    m_closePending = false;
    m_context.show(fillPlaceholders(m_context.message("msg61"), {m_context.upgradeToolPath.string()}) + "\n" +
                       stdText(process.errorString()),
                   MessageIcon::Stop);
    return false;
}

void CHomePlugDeviceManagerDlg::watchInterfaces() {
    if (!m_interfaceWatch.open())
        return;
    m_interfaceNotifier = new QSocketNotifier(m_interfaceWatch.descriptor(), QSocketNotifier::Read, this);
    connect(m_interfaceNotifier, &QSocketNotifier::activated, this, [this] {
        if (!m_interfaceWatch.takeNewInterfaces().empty())
            onDeviceArrival();
    });
}

void CHomePlugDeviceManagerDlg::onDeviceArrival() {
    // Never under a dialog or an operation: their exchanges use the adapters, and reopening them restarts the scan
    // timer. The last release of the window reopens them.
    if (m_holds > 0) {
        m_adaptersChanged = true;
        return;
    }
    reopenAdapters();
}

void CHomePlugDeviceManagerDlg::reopenAdapters() {
    m_scanTimer->stop();
    // Closing the adapters is device work like any other: it never happens under an operation.
    app::OperationLease operation = m_context.session.runner().tryBegin();
    if (!operation) {
        m_adaptersChanged = true;
        return;
    }
    const app::OpenResult opened = m_context.session.reopenAdapters();
    operation.release();
    if (!opened) {
        m_context.showMessage("msg02", MessageIcon::Stop);
        closeNow();
        return;
    }
    m_diagnostics->fillSystemInformation();
    busyState(StartTimer);
}

} // namespace zrq406::utility
