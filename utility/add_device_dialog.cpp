#include "utility/add_device_dialog.h"

#include "app/device_extras.h"
#include "app/scan_cycle.h"
#include "gui/page_layout.h"
#include "gui/run_operation.h"
#include "gui/widget_font.h"
#include "gui/window_thread.h"
#include "platform/text_field.h"
#include "registry/device_registry.h"
#include "uitext/load_ui_setting.h"
#include "uitext/placeholders.h"
#include "utility/main_dialog.h"
#include "utility/utility_context.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace zrq406::utility {

namespace {
constexpr char kRoot[] = "ZRQ406";
constexpr char kPage[] = "AddDevice";
// A name is kept in a field of 39 bytes.
constexpr std::size_t kNameBytes = sizeof(DeviceRecord::name) - 1;
constexpr int kWindowSeconds = static_cast<int>(app::kPairingWindowMs / 1000);

QLabel* wrappedLabel(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    return label;
}
} // namespace

CAddDeviceDialog::CAddDeviceDialog(UtilityContext& context, CHomePlugDeviceManagerDlg& main, QWidget* parent)
    : QDialog(parent), m_context(context), m_main(main) {
    setObjectName(QStringLiteral("CAddDeviceDialog"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowTitle(qtText(context.texts.LoadPageCaption(kRoot, kPage, "Text")));

    m_heading = wrappedLabel(QStringLiteral("StepHeading"), this);
    QFont bold = m_heading->font();
    bold.setBold(true);
    m_heading->setFont(bold);

    m_pages = new QStackedWidget(this);
    for (const char* node : {"Step1", "Step2", "Step3"}) {
        QLabel* step = wrappedLabel(QString::fromLatin1(node), m_pages);
        step->setText(qtText(text(node)));
        m_pages->addWidget(step);
    }

    auto* searching = new QWidget(m_pages);
    m_searchText = wrappedLabel(QStringLiteral("Searching"), searching);
    m_countdown = new QProgressBar(searching);
    m_countdown->setObjectName(QStringLiteral("Countdown"));
    m_countdown->setAccessibleName(qtText(text("Countdown")));
    m_countdown->setRange(0, kWindowSeconds);
    m_countdown->setTextVisible(false);
    auto* searchLayout = new QVBoxLayout(searching);
    searchLayout->setContentsMargins(0, 0, 0, 0);
    searchLayout->addWidget(m_searchText);
    searchLayout->addWidget(m_countdown);
    searchLayout->addStretch();
    m_pages->addWidget(searching);

    auto* found = new QWidget(m_pages);
    m_found = wrappedLabel(QStringLiteral("Found"), found);
    m_found->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    auto* nameLabel = new QLabel(qtText(text("NameLabel")), found);
    nameLabel->setObjectName(QStringLiteral("NameLabel"));
    m_name = new QLineEdit(found);
    m_name->setObjectName(QStringLiteral("txtName"));
    m_name->setAccessibleName(nameLabel->text());
    nameLabel->setBuddy(m_name);
    auto* nameRow = new QFormLayout;
    nameRow->addRow(nameLabel, m_name);
    auto* foundLayout = new QVBoxLayout(found);
    foundLayout->setContentsMargins(0, 0, 0, 0);
    foundLayout->addWidget(m_found);
    foundLayout->addLayout(nameRow);
    foundLayout->addStretch();
    m_pages->addWidget(found);

    // What to try: the lead sentence, then each suggestion on a line of its own.
    QLabel* notFound = wrappedLabel(QStringLiteral("NotFound"), m_pages);
    std::string advice = text("NotFound");
    for (const char* field : {"Text2", "Text3", "Text4"})
        advice += "\n\n\xE2\x80\xA2 " + text("NotFound", field);
    notFound->setText(qtText(advice));
    m_pages->addWidget(notFound);
    QLabel* notPressed = wrappedLabel(QStringLiteral("NotPressed"), m_pages);
    notPressed->setText(qtText(text("NotPressed")));
    m_pages->addWidget(notPressed);

    const auto button = [this](const char* node) {
        auto* b = new QPushButton(qtText(text(node)), this);
        b->setObjectName(QString::fromLatin1(node));
        b->setAutoDefault(false);
        return b;
    };
    m_back = button("btnBack");
    m_next = button("btnNext");
    m_pair = button("btnPair");
    m_tryAgain = button("btnTryAgain");
    m_finish = button("btnFinish");
    m_close = button("btnClose");
    m_cancel = button("btnCancel");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {m_back, m_next, m_pair, m_tryAgain, m_finish, m_close, m_cancel})
        buttons->addWidget(b);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_heading);
    layout->addWidget(m_pages, 1);
    layout->addLayout(buttons);
    ApplyDialogFont(this, context.texts);
    // The heading keeps its weight under the dialog's font.
    bold = m_heading->font();
    bold.setBold(true);
    m_heading->setFont(bold);
    setMinimumWidth(560);

    connect(m_back, &QPushButton::clicked, this, &CAddDeviceDialog::onBack);
    connect(m_next, &QPushButton::clicked, this, &CAddDeviceDialog::onNext);
    connect(m_pair, &QPushButton::clicked, this, &CAddDeviceDialog::onPair);
    connect(m_tryAgain, &QPushButton::clicked, this, [this] { showStep(PressButton); });
    connect(m_finish, &QPushButton::clicked, this, &CAddDeviceDialog::onFinish);
    connect(m_close, &QPushButton::clicked, this, &CAddDeviceDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &CAddDeviceDialog::reject);
    showSecondsLeft(kWindowSeconds);
    showStep(PlugIn);
}

std::string CAddDeviceDialog::text(const char* node, const char* field) const {
    return m_context.texts.LoadPageCaption(kRoot, kPage, node, field);
}

void CAddDeviceDialog::showStep(Step step) {
    m_step = step;
    m_pages->setCurrentIndex(step);
    switch (step) {
    case PlugIn:
    case PressButton:
    case ClickPair:
        m_heading->setText(qtText(fillPlaceholders(text("StepHeading"), {std::to_string(step + 1)})));
        break;
    case Searching:
        m_heading->setText(qtText(text("StepHeading", "Text2")));
        break;
    case Found:
        m_heading->setText(qtText(text("StepHeading", "Text3")));
        break;
    case NotFound:
    case NotPressed:
        m_heading->setText(qtText(text("StepHeading", "Text4")));
        break;
    }
    m_back->setVisible(step == PressButton || step == ClickPair);
    m_next->setVisible(step == PlugIn || step == PressButton);
    m_pair->setVisible(step == ClickPair);
    m_tryAgain->setVisible(step == NotFound || step == NotPressed);
    m_finish->setVisible(step == Found);
    m_close->setVisible(step == NotFound || step == NotPressed);
    m_cancel->setVisible(step != Found && step != NotFound && step != NotPressed);
    m_cancel->setEnabled(true);
    // Enter takes the step's main button.
    for (QPushButton* b : {m_next, m_pair, m_tryAgain, m_finish})
        b->setDefault(b->isVisibleTo(this));
    if (step == Found) {
        m_name->setFocus();
        m_name->selectAll();
    }
}

void CAddDeviceDialog::onNext() {
    if (m_step == PlugIn || m_step == PressButton)
        showStep(static_cast<Step>(m_step + 1));
}

void CAddDeviceDialog::onBack() {
    if (m_step == PressButton || m_step == ClickPair)
        showStep(static_cast<Step>(m_step - 1));
}

void CAddDeviceDialog::showSecondsLeft(int seconds) {
    seconds = std::clamp(seconds, 0, kWindowSeconds);
    m_countdown->setValue(seconds);
    m_searchText->setText(qtText(fillPlaceholders(text("Searching"), {std::to_string(seconds)})));
}

void CAddDeviceDialog::onPair() {
    if (m_searching || m_main.isBusy())
        return;
    auto stop = std::make_shared<std::atomic<bool>>(false);
    m_stop = stop;
    m_closeWhenStopped = false;
    const std::string time = app::scanTimeText(m_context.german);
    showSecondsLeft(kWindowSeconds);
    showStep(Searching);
    m_searching = true;
    const QPointer<CAddDeviceDialog> self(this);
    // The dialog stays open until the search has ended (reject waits for it), so the worker may reach it.
    const bool started = runOperation<app::JoinOutcome>(
        m_main,
        [this, stop, time] {
            app::JoinOutcome outcome =
                app::joinNetwork(m_context.session, std::nullopt, time, [this, stop](int seconds) {
                    callOnThread(this, [this, seconds] { showSecondsLeft(seconds); });
                    return !stop->load();
                });
            // Every page shows the new device.
            if (outcome.result == app::JoinOutcome::Joined)
                m_main.rediscoverAfterKeyChange();
            return outcome;
        },
        [self](std::optional<app::JoinOutcome> outcome) {
            if (self)
                self->searchEnded(outcome ? &*outcome : nullptr);
        });
    if (!started) {
        m_searching = false;
        showStep(ClickPair);
    }
}

void CAddDeviceDialog::searchEnded(const app::JoinOutcome* outcome) {
    m_searching = false;
    if (m_closeWhenStopped) {
        QDialog::reject();
        return;
    }
    if (outcome == nullptr) {
        showStep(ClickPair);
        return;
    }
    switch (outcome->result) {
    case app::JoinOutcome::Joined:
        m_foundMac = outcome->newStation.text();
        m_foundName = outcome->name;
        m_found->setText(qtText(fillPlaceholders(text("Found"), {m_foundMac, m_foundName})));
        m_name->setText(qtText(m_foundName));
        showStep(Found);
        break;
    case app::JoinOutcome::TimedOut:
        showStep(NotFound);
        break;
    case app::JoinOutcome::NotPressed:
        showStep(NotPressed);
        break;
    case app::JoinOutcome::Stopped:
        QDialog::reject();
        break;
    }
}

void CAddDeviceDialog::onFinish() {
    std::string name = stdText(m_name->text().trimmed());
    if (name.empty()) {
        m_context.showMessage("msg52", MessageIcon::Warning);
        m_name->setText(qtText(m_foundName));
        return;
    }
    name = std::string(truncateUtf8(name, kNameBytes));
    if (name != m_foundName)
        m_main.renameDevice(m_foundMac, name);
    accept();
}

void CAddDeviceDialog::reject() {
    // Cancel, Escape and the close button stop a search under way; the dialog closes once it has ended.
    if (m_searching) {
        m_closeWhenStopped = true;
        if (m_stop)
            m_stop->store(true);
        m_cancel->setEnabled(false);
        return;
    }
    QDialog::reject();
}

} // namespace zrq406::utility
