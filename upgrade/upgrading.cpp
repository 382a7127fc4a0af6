#include "upgrade/upgrading.h"

#include "app/session.h"
#include "app/upgrade_images.h"
#include "app/upgrade_tool_state.h"
#include "gui/page_layout.h"
#include "gui/widget_font.h"
#include "gui/window_thread.h"
#include "mme/upgrade_file.h"
#include "platform/paths.h"
#include "uitext/placeholders.h"
#include "upgrade/new_wiz_dialog.h"
#include "upgrade/page_label.h"
#include "upgrade/upgrade_tool_context.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace zrq406 {

namespace {
constexpr char kMarker[] = "->";
// The display follows the progress values at this period (not a device wait: never scaled).
constexpr int kDisplayPeriodMs = 100;
// The result stays in view a moment.
constexpr double kResultPauseMs = 900;
} // namespace

CUpgrading::CUpgrading(CNewWizDialog& frame, UpgradeToolContext& context)
    : CNewWizPage(frame, kTemplateId), m_context(context), m_runner(this) {}

CUpgrading::~CUpgrading() {
    m_runner.waitForIdle();
}

bool CUpgrading::InitPage() {
    PageLayout layout(m_context.texts(), "UpgradeDLG");
    auto step = [&](const char* node, int dialogId) {
        QLabel* label = makePageLabel(this);
        layout.control(label, node, dialogId);
        m_stepTexts[label] = label->text();
        return label;
    };
    QLabel* softloader = step("UpSoft", 1015);
    QLabel* firmware = step("UpFirm", 1017);
    m_firmwareStep = firmware->text();
    QLabel* config = step("UpConf", 1018);
    QLabel* restart = step("ReSet", 1019);
    m_steps = {softloader, firmware, config, restart, restart};
    m_done = makePageLabel(this);
    layout.control(m_done, "Done", 1021);
    m_bar = new QProgressBar(this);
    m_bar->setTextVisible(false);
    layout.control(m_bar, "Progress", 1010);
    m_bar->setAccessibleName(qtText(layout.text("Progress")));
    m_percent = makePageLabel(this);
    layout.control(m_percent, "Prop", 1022);
    ApplyDialogFont(this, m_context.texts());

    m_display = new QTimer(this);
    m_display->setInterval(kDisplayPeriodMs);
    connect(m_display, &QTimer::timeout, this, &CUpgrading::showProgress);
    const auto words = app::splitModelName(m_context.textOr({"Utility", "ModelName"}, "TALVERN ZRQ406"));
    m_manufacturer = words.first;
    m_model = words.second;
    return true;
}

void CUpgrading::ReleasePage() {
    m_runner.waitForIdle();
}

void CUpgrading::EnterPage() {
    // The rest happens once the page is on screen.
    QTimer::singleShot(0, this, &CUpgrading::begin);
}

std::filesystem::path CUpgrading::imageFor(int region) {
    // Only a file name is taken from the language file; it is looked for where the upgrade files are.
    const std::string name = m_context.text({"UpgradeDLG", "UpgradeFilePath", "Text"});
    const auto fallback = paths::dataFile(std::filesystem::path(name).filename().string());
    return m_context.state().images.imageFor(region, fallback);
}

void CUpgrading::begin() {
    app::UpgradeToolState& state = m_context.state();
    if (state.queue.empty() || m_runner.busy())
        return;
    for (QLabel* label : m_steps) {
        label->setText(m_stepTexts[label]);
        label->setEnabled(false);
    }
    m_done->setEnabled(false);
    m_percent->clear();
    frame().nextButton()->hide();
    frame().cancelButton()->hide();
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_context.session().progress().reset();
    state.progress.reset();
    state.lastOutcome = mme::UpgradeOutcome{};

    const app::UpgradeDevice device = state.queue.head();
    const std::filesystem::path image = imageFor(device.region);
    // The firmware step names the version of the image that is written (its file name when it has none).
    std::string version;
    if (mme::CheckUpgradeFile(image.string(), version) != 0 || version.empty())
        version = image.filename().string();
    m_stepTexts[m_steps[1]] = qtText(fillPlaceholders(stdText(m_firmwareStep), {version}));
    m_steps[1]->setText(m_stepTexts[m_steps[1]]);
    // The first step is under way from the start.
    showProgress();
    m_display->start();
    m_runner.start([this, device, image] {
        const app::OperationLease operation = m_context.session().runner().begin();
        upgrade(device, image);
    });
}

void CUpgrading::upgrade(const app::UpgradeDevice& device, const std::filesystem::path& image) {
    app::Session& session = m_context.session();
    app::UpgradeToolState& state = m_context.state();
    mme::FirmwareUpgrade operation(session.operations(), session.pacing());
    operation.setBackupDir(paths::userDataDir() / "backups");
    operation.setManufacturerAndModel(m_manufacturer, m_model);
    // Each step is shown as soon as it starts.
    operation.setStepReporter(
        [&state](mme::UpgradeStep step) { state.progress.startStep(app::stepOfOperation(step)); });
    const mme::UpgradeOutcome outcome = operation.upgradeToolSequence(image.string(), MacAddress::fromText(device.mac));
    state.lastOutcome = outcome;

    if (outcome.ok) {
        state.progress.startStep(app::kUpgradeSteps);
        callOnThread(this, [this] {
            showProgress();
            m_done->setEnabled(true);
        });
        m_context.message("msg09");
    } else {
        state.progress.failed = true;
        callOnThread(this, [this, &outcome] {
            m_display->stop();
            showStoppedAt(app::stepOfOperation(outcome.failedStep));
        });
        // A file that is missing or not for this model is named as such.
        std::string reason;
        if (outcome.failedStep == mme::UpgradeStep::CheckFile) {
            std::error_code ec;
            reason = m_context.text({"Messages", std::filesystem::exists(image, ec) ? "msg07" : "msg06", "Text"});
        }
        m_context.message("msg08", MessageIcon::None, MessageButtons::Ok, reason);
    }
    session.pacing().sleep(kResultPauseMs);
    callOnThread(&frame(), [this, ok = outcome.ok] {
        m_display->stop();
        if (ok)
            showProgress();
        frame().wizardStep(CNewWizDialog::StepNext);
    });
}

void CUpgrading::markSteps(int current) {
    for (int i = 0; i < static_cast<int>(m_steps.size()); ++i) {
        QLabel* label = m_steps[static_cast<std::size_t>(i)];
        if (i < current) {
            label->setText(m_stepTexts[label]);
            label->setEnabled(true);
        } else if (i == current) {
            // The step under way is marked and no longer greyed; the steps after it are.
            label->setText(QString::fromLatin1(kMarker) + m_stepTexts[label]);
            label->setEnabled(true);
        }
    }
}

int CUpgrading::percentNow() const {
    const int step = m_context.state().progress.step;
    // Within a step only the firmware write knows its share: the bytes written of the image.
    const double within = step == 1 ? m_context.session().progress().fraction.load() : 0.0;
    return app::weightedPercent(step, within);
}

void CUpgrading::showPercent(int percent) {
    m_percent->setText(QString::number(percent) + QLatin1Char('%'));
    m_bar->setValue(percent);
}

void CUpgrading::showProgress() {
    const app::UpgradeToolState& state = m_context.state();
    if (state.progress.failed)
        return;
    showPercent(percentNow());
    markSteps(state.progress.step);
    if (state.progress.step >= app::kUpgradeSteps)
        m_display->stop();
}

void CUpgrading::showStoppedAt(int step) {
    showPercent(percentNow());
    for (std::size_t i = 0; i < m_steps.size(); ++i) {
        QLabel* label = m_steps[i];
        label->setText(m_stepTexts[label]);
        label->setEnabled(static_cast<int>(i) < step);
    }
    QLabel* stopped = m_steps[static_cast<std::size_t>(step)];
    stopped->setText(QString::fromLatin1(kMarker) + m_stepTexts[stopped]);
    stopped->setEnabled(true);
}

} // namespace zrq406
