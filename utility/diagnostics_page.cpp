#include "utility/diagnostics_page.h"

#include "app/diagnostics_report.h"
#include "app/health_texts.h"
#include "app/link_statistics.h"
#include "app/system_information.h"
#include "gui/file_dialogs.h"
#include "gui/page_layout.h"
#include "gui/picture_box.h"
#include "gui/report_list.h"
#include "gui/run_operation.h"
#include "gui/widget_font.h"
#include "gui/worker_runner.h"
#include "platform/atomic_file.h"
#include "registry/device_registry.h"
#include "registry/value_texts.h"
#include "uitext/load_ui_setting.h"
#include "uitext/placeholders.h"
#include "utility/main_dialog.h"
#include "utility/network_map_page.h"
#include "utility/network_page.h"
#include "utility/utility_context.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QtGlobal>
#include <array>

namespace zrq406::utility {

namespace {
constexpr char kPage[] = "MACConfigTab";
constexpr char kReportFilter[] = "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||";
// Columns of the Device History list.
enum HistoryColumn { HistoryName, HistoryMac, HistoryLocation, HistoryPhyRate, HistoryLed };
} // namespace

CDiagnosticsPage::CDiagnosticsPage(CHomePlugDeviceManagerDlg& main)
    : UtilityPage(nullptr), m_main(main), m_context(main.context()), m_workers(std::make_unique<WorkerRunner>(this)) {
    setObjectName(QStringLiteral("CDiagnosticsPage"));
    CLoadUISetting& texts = m_context.texts;
    PageLayout layout(texts, kPage);
    const std::string caption = texts.LoadPageCaption("ZRQ406", kPage, "Text");
    m_picture = new PictureBox(QStringLiteral("diagnostics"), this);
    layout.rect(m_picture, "pictureBox4", 1104, caption);
    m_system = new ReportList(this);
    layout.rect(m_system, "listView2", 1007,
                texts.LoadPageCaption("ZRQ406", kPage, "listView2", "Columns", "listView2_info", "Text"));
    // The labels and their values: the language file's one column is the heading over both.
    layout.columns(m_system, "listView2", {"listView2_info", ""});
    for (int i = 1; i <= 11; ++i)
        m_labels.push_back(texts.LoadPageCaption("ZRQ406", kPage, "listView2", "Columns", "listView2_info",
                                                 "Value" + std::to_string(i)));
    auto* historyHeading = layout.add<QLabel>(this, "Device_History", 1060);
    m_history = new ReportList(this);
    layout.rect(m_history, "listView3", 1059, stdText(historyHeading->text()));
    layout.columns(
        m_history, "listView3",
        {"listView3_1", "listView3_2", "listView3_4", "listView3_5", "listView3_9", "listView3_7", "listView3_8"});
    historyHeading->setBuddy(m_history);
    m_delete = layout.add<QPushButton>(this, "button_Del_Device", 1009);
    m_save = layout.add<QPushButton>(this, "button_SaveReport", 1015);
    m_print = layout.add<QPushButton>(this, "button_PrintReport", 1036);
    // The Device History and the links' health share the history's place, each on a tab.
    const app::HealthTexts health = app::HealthTexts::load(texts, m_context.german);
    m_lists = new QTabWidget(this);
    m_lists->setObjectName(QStringLiteral("tabLists"));
    m_lists->setGeometry(QRect(historyHeading->geometry().topLeft(), m_history->geometry().bottomRight()));
    historyHeading->hide();
    m_lists->addTab(m_history, historyHeading->text());
    auto* healthPage = new QWidget;
    healthPage->setObjectName(QStringLiteral("linkHealthPage"));
    m_check = new QPushButton(qtText(texts.LoadPageCaption("ZRQ406", "LinkDetails", "CheckButton", "Text")), this);
    m_check->setObjectName(QStringLiteral("btnCheckLinks"));
    auto* checkNote = new QLabel(qtText(texts.LoadPageCaption("ZRQ406", "LinkDetails", "CheckNote", "Text")), this);
    checkNote->setObjectName(QStringLiteral("lblCheckNote"));
    checkNote->setWordWrap(true);
    m_health = new ReportList;
    m_health->setObjectName(QStringLiteral("lstLinkHealth"));
    m_health->setAccessibleName(qtText(health.heading));
    m_health->setHeaderLabels([&] {
        QStringList headings;
        for (const std::string& column : health.columns)
            headings.push_back(qtText(column));
        return headings;
    }());
    m_weakest = new QLabel;
    m_weakest->setObjectName(QStringLiteral("lblWeakestCarriers"));
    m_weakest->setWordWrap(true);
    m_weakest->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_weakest->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // Until the links are checked, the place of the weakest link's carriers says what Check Links does.
    m_weakest->setText(checkNote->text());
    checkNote->hide();
    auto* healthLayout = new QHBoxLayout(healthPage);
    healthLayout->setContentsMargins(2, 2, 2, 2);
    healthLayout->addWidget(m_health, 3);
    // A long list of lost bands scrolls rather than being cut.
    auto* weakestArea = new QScrollArea;
    weakestArea->setObjectName(QStringLiteral("weakestArea"));
    weakestArea->setWidgetResizable(true);
    weakestArea->setFrameShape(QFrame::NoFrame);
    weakestArea->setWidget(m_weakest);
    healthLayout->addWidget(weakestArea, 2);
    m_lists->addTab(healthPage, qtText(texts.LoadPageCaption("ZRQ406", "LinkDetails", "Health", "Text2")));
    m_lists->setCornerWidget(m_check, Qt::TopRightCorner);
    ApplyDialogFont(this, texts);

    // The LED state is marked in colour beside its word, as on the network page.
    const ValueTexts words = ValueTexts::load(texts);
    m_history->setStateColours(HistoryLed,
                               {{words.ledOn, QColor(0x2e, 0xb8, 0x5c)}, {words.ledOff, QColor(0x9a, 0xa5, 0xb1)}});
    for (QPushButton* button : {m_delete, m_save, m_print, m_check})
        button->setAutoDefault(false);
    connect(m_check, &QPushButton::clicked, this, &CDiagnosticsPage::onCheckLinks);
    connect(m_delete, &QPushButton::clicked, this, &CDiagnosticsPage::onDeleteDevice);
    connect(m_save, &QPushButton::clicked, this, &CDiagnosticsPage::onSaveReport);
    connect(m_print, &QPushButton::clicked, this, &CDiagnosticsPage::onPrintReport);
}

void CDiagnosticsPage::resizeEvent(QResizeEvent* event) {
    UtilityPage::resizeEvent(event);
    // The lists take what the page gains beyond its first size; the buttons stay below them.
    if (!m_baseSize.isValid()) {
        m_baseSize = size();
        m_baseLists = m_lists->geometry();
        for (QPushButton* button : {m_delete, m_save, m_print})
            m_baseButtons.push_back(button->geometry());
        return;
    }
    const int dw = std::max(0, width() - m_baseSize.width());
    const int dh = std::max(0, height() - m_baseSize.height());
    m_lists->setGeometry(m_baseLists.adjusted(0, 0, dw, dh));
    m_system->resize(m_baseLists.width() + dw, m_system->height());
    const std::array<QPushButton*, 3> buttons{m_delete, m_save, m_print};
    for (std::size_t i = 0; i < buttons.size(); ++i)
        buttons[i]->setGeometry(m_baseButtons[i].translated(i == 0 ? 0 : dw, dh));
}

void CDiagnosticsPage::setActionsEnabled(bool enabled) {
    // A scan refills the lists meanwhile: nothing is deleted or reported from a list half filled.
    for (QWidget* control : std::initializer_list<QWidget*>{m_history, m_delete, m_save, m_print, m_check})
        control->setEnabled(enabled);
}

void CDiagnosticsPage::fillFromScan(const ScanTable& scan, const std::string&) {
    m_devicesFound = scan.count;
    fillSystemInformation();
}

void CDiagnosticsPage::showNoDevice() {
    m_devicesFound = 0;
}

void CDiagnosticsPage::fillSystemInformation() {
    const std::string toolkit = std::string("Qt ") + qVersion();
    m_systemValues =
        app::gatherSystemInformation(&m_context.session, m_devicesFound, m_context.lastScanTime, toolkit).values();
    ListRows rows;
    for (std::size_t i = 0; i < m_labels.size(); ++i)
        rows.push_back({m_labels[i], i < m_systemValues.size() ? m_systemValues[i] : std::string()});
    m_system->setRows(rows);
    m_system->resizeColumnToContents(0);
    m_system->setColumnWidth(0, m_system->columnWidth(0) + 16);
}

void CDiagnosticsPage::setHistoryRows(const ListRows& rows) {
    m_history->setRows(rows);
    m_historyFilled = true;
}

ListRows CDiagnosticsPage::historyRows() const {
    return m_history->rows();
}

void CDiagnosticsPage::renameDevice(const std::string& mac, const std::string& name) {
    for (int r = 0; r < m_history->topLevelItemCount(); ++r)
        if (m_history->cell(r, HistoryMac) == mac)
            m_history->setCell(r, HistoryName, name);
}

void CDiagnosticsPage::applyPendingEdits(const ListRows& deviceRows, const std::vector<int>& renamedRows,
                                         const std::vector<int>& ledChangedRows) {
    ListRows rows = historyRows();
    zrq406::applyPendingEdits(rows, deviceRows, renamedRows, ledChangedRows);
    m_history->setRows(rows);
}

void CDiagnosticsPage::onDeleteDevice() {
    const int row = m_history->selectedRow();
    if (row < 0) {
        m_context.showMessage("msg53", MessageIcon::Exclamation);
        return;
    }
    delete m_history->takeTopLevelItem(row);
}

CDiagnosticsPage::~CDiagnosticsPage() {
    m_workers->waitForIdle();
}

std::string CDiagnosticsPage::report(const ListRows& linkWeek) const {
    app::ReportContent content;
    content.created = app::reportTimeText();
    content.systemValues = m_systemValues;
    content.devices = m_main.networkPage() != nullptr ? m_main.networkPage()->rows() : ListRows();
    content.links = m_main.networkMapPage() != nullptr ? m_main.networkMapPage()->linkRows() : ListRows();
    content.history = historyRows();
    content.linkWeek = linkWeek;
    content.health = m_healthRows;
    content.healthNotes = m_healthNotes;
    content.weakestCarriers = m_weakestText;
    return app::buildDiagnosticsReport(app::ReportTexts::load(m_context.texts), content);
}

void CDiagnosticsPage::withReport(std::function<void(const std::string&)> use) {
    if (m_reportPending)
        return;
    m_reportPending = true;
    const QPointer<CDiagnosticsPage> self(this);
    m_workers->start<ListRows>(
        [path = m_context.session.scanRecorder().path(), since = std::time(nullptr) - app::kReportSpan] {
            // A history that cannot be read leaves the week's summary empty; the scans say why when they write.
            try {
                std::string unread;
                return app::linkSummaryRows(app::historySummaries(path, since, unread));
            } catch (const std::exception&) {
                return ListRows();
            }
        },
        [self, use = std::move(use)](ListRows linkWeek) {
            if (!self)
                return;
            self->m_reportPending = false;
            use(self->report(linkWeek));
        },
        [self](const std::string&) {
            if (self)
                self->m_reportPending = false;
        });
}

void CDiagnosticsPage::onCheckLinks() {
    struct Check {
        app::HealthTable health;
        app::CarrierMap weakest;
        app::CarrierMapOutcome outcome = app::CarrierMapOutcome::NoAnswer;
    };
    app::Session& session = m_context.session;
    const QPointer<CDiagnosticsPage> self(this);
    m_checking = runOperation<Check>(
        m_main,
        [&session] {
            Check check;
            check.health = app::readLinkHealth(session);
            // The weakest direction is the first; its receiver tells the carriers.
            if (!check.health.links.empty() && check.health.links.front().counted()) {
                const app::LinkDirectionHealth& weakest = check.health.links.front();
                check.outcome = app::readCarrierMap(session, weakest.to, weakest.from, std::nullopt, check.weakest);
            }
            return check;
        },
        [self](std::optional<Check> check) {
            if (!self)
                return;
            self->m_checking = false;
            if (!check)
                return;
            const app::HealthTexts texts = app::HealthTexts::load(self->m_context.texts, self->m_context.german);
            self->m_healthRows = app::healthRows(check->health, texts);
            self->m_healthNotes = app::healthNotes(check->health, texts);
            self->m_weakestText.clear();
            if (!check->health.links.empty() && check->health.links.front().counted()) {
                const app::LinkDirectionHealth& weakest = check->health.links.front();
                self->m_weakestText =
                    fillPlaceholders(texts.weakest,
                                     {check->health.label(weakest.from), check->health.label(weakest.to)}) +
                    "\n" +
                    app::carrierSummaryText(check->weakest, check->outcome, check->health.label(weakest.to), texts);
            }
            self->m_health->setRows(self->m_healthRows);
            for (int c = 0; c < self->m_health->columnCount(); ++c)
                self->m_health->resizeColumnToContents(c);
            std::string side = self->m_weakestText;
            for (const std::string& note : self->m_healthNotes)
                side += (side.empty() ? "" : "\n") + note;
            self->m_weakest->setText(qtText(side));
        });
}

void CDiagnosticsPage::onSaveReport() {
    const auto path = m_context.files.saveFile(this, kReportFilter, app::reportFileName());
    if (!path)
        return;
    withReport([this, path = *path](const std::string& text) {
        // A report is meant to be passed on: it is written as any document is, readable by others.
        if (const FileWriteResult written = writeFileAtomically(path, text, FileAccess::Everyone); !written)
            m_context.show(fillPlaceholders(m_context.message("msg64"), {written.error}), MessageIcon::Stop);
    });
}

void CDiagnosticsPage::onPrintReport() {
    withReport([this](const std::string& text) {
        const std::string title = m_context.texts.LoadPageCaption("ZRQ406", "Diagnostics", "Value");
        if (m_context.printer().print(this, title, text) == PrintOutcome::Failed)
            m_context.showMessage("msg65", MessageIcon::Stop);
    });
}

} // namespace zrq406::utility
