#include "utility/upgrade_dialog.h"

#include "app/device_actions.h"
#include "app/upgrade_membership.h"
#include "gui/file_dialogs.h"
#include "gui/page_layout.h"
#include "gui/picture_box.h"
#include "gui/run_operation.h"
#include "gui/widget_font.h"
#include "gui/window_thread.h"
#include "mme/firmware_upgrade.h"
#include "platform/paths.h"
#include "platform/text_field.h"
#include "uitext/load_ui_setting.h"
#include "uitext/placeholders.h"
#include "utility/main_dialog.h"
#include "utility/password_dialog.h"
#include "utility/utility_context.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cmath>

namespace zrq406::utility {

// How one press of Upgrade ended: the upgrade's outcome, or the user's cancel at the warning; `closing` is the last
// message when it is not the outcome's own (after the device was offered its way back to its network).
struct UpgradeRun {
    mme::UpgradeOutcome outcome;
    bool cancelled = false;
    std::string closing;
};

namespace {
// The device restarts with its new firmware before the network is scanned again.
constexpr double kRestartWaitMs = 20000;
constexpr int kPollMs = 100;
constexpr char kFilter[] = "Binary Files (*.bin)|*.bin|NVM Files (*.nvm)|*.nvm|All Files (*.*)|*.*||";

// On the window thread: asks the device password of a remote device outside this computer's network, which
// cannot be proved first; the key it takes is the proof.
bool askPasswordAndRejoin(UtilityContext& context, BusyWindow& window, QWidget* parent, const MacAddress& device,
                          const mme::Key& key) {
    const std::string mac = device.text();
    std::string name;
    const ScanTable& scan = context.session.registry().scanTable();
    for (int i = 0; i < scan.count; ++i)
        if (fieldText(scan.entries[i].mac) == mac)
            name = fieldText(scan.entries[i].name);
    CSetDAK dialog(context, window, name, mac, parent);
    dialog.setProof([&context, device, key](const std::string& password) {
        return app::rejoinNetwork(context.session, device, app::NetworkMembership::RemoteLeft, key, password)
                   ? app::PasswordProof::Accepted
                   : app::PasswordProof::Refused;
    });
    if (dialog.exec() != CSetDAK::kAccepted)
        return false;
    context.passwords.remember(mac, dialog.enteredPassword());
    return true;
}

// A remote device takes the key under its device password: the one proved earlier in this run, else asked.
bool rejoinRemote(UtilityContext& context, BusyWindow& window, QWidget* parent, const MacAddress& device,
                  const mme::Key& key) {
    if (const auto known = context.passwords.find(device.text());
        known && app::rejoinNetwork(context.session, device, app::NetworkMembership::RemoteLeft, key, *known))
        return true;
    // Asked while this worker waits: the dialog's own worker sends the key, so only one of them uses the adapters.
    return callOnThread<bool>(parent, [&] { return askPasswordAndRejoin(context, window, parent, device, key); })
        .value_or(false);
}

// On the upgrade's worker, after an upgrade that took the device out of its private network: offers to put it back
// with the key of its backup and does it; returns the closing text.
std::string rejoinAfterUpgrade(UtilityContext& context, BusyWindow& window, QWidget* parent, const MacAddress& device,
                               const app::MembershipAfterUpgrade& after) {
    const std::string stays = context.message("msg80", app::staysOutsideField(after.membership));
    if (!after.previousKey)
        return context.message("msg80", "Text3") + "\n" + stays;
    if (context.showMessage(app::rejoinOfferMessageKey(after.membership), MessageIcon::None,
                            MessageButtons::OkCancel) != MessageAnswer::Ok)
        return stays;
    const bool back = after.membership == app::NetworkMembership::LocalLeft
                          ? app::rejoinNetwork(context.session, device, after.membership, *after.previousKey)
                          : rejoinRemote(context, window, parent, device, *after.previousKey);
    return back ? context.message("msg79") : stays;
}

} // namespace

CUpgradePage::CUpgradePage(CHomePlugDeviceManagerDlg& main, const std::string& mac, QWidget* parent)
    : QDialog(parent), m_main(main), m_context(main.context()), m_mac(mac) {
    setObjectName(QStringLiteral("CUpgradePage"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    PageLayout layout(m_context.texts, "upgradeform");
    layout.window(this);
    auto* picture = new PictureBox(QStringLiteral("upgrade"), this);
    layout.rect(picture, "pictureBox10", 1104, stdText(windowTitle()));
    auto* macCaption = layout.add<QLabel>(this, "label1", 1080);
    m_macText = new QLineEdit(qtText(mac), this);
    m_macText->setReadOnly(true);
    layout.rect(m_macText, "textBox1", 1044, stdText(macCaption->text()));
    auto* fileCaption = layout.add<QLabel>(this, "label2", 1081);
    m_file = new QLineEdit(this);
    m_file->setReadOnly(true);
    layout.rect(m_file, "FWFile", 1003, stdText(fileCaption->text()));
    m_browse = layout.add<QPushButton>(this, "btnUpgradeLoadFW", 1009);
    auto* hint = new QLabel(this);
    hint->setWordWrap(true);
    layout.control(hint, "label3", 1083);
    auto* progressCaption = layout.add<QLabel>(this, "label5", 1082);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    layout.rect(m_progress, "progressBar1", 1051, stdText(progressCaption->text()));
    m_upgrade = layout.add<QPushButton>(this, "button2", 1015);
    m_cancel = layout.add<QPushButton>(this, "button3", 1036);
    ApplyDialogFont(this, m_context.texts);
    macCaption->setBuddy(m_macText);
    fileCaption->setBuddy(m_file);

    m_upgrade->setEnabled(false);
    for (QPushButton* button : {m_browse, m_upgrade, m_cancel})
        button->setAutoDefault(false);
    connect(m_browse, &QPushButton::clicked, this, &CUpgradePage::onBrowse);
    connect(m_upgrade, &QPushButton::clicked, this, &CUpgradePage::onUpgrade);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_poller = new QTimer(this);
    m_poller->setInterval(kPollMs);
    connect(m_poller, &QTimer::timeout, this, &CUpgradePage::pollProgress);
}

void CUpgradePage::setButtonsEnabled(bool enabled) {
    m_browse->setEnabled(enabled);
    m_upgrade->setEnabled(enabled && !m_file->text().isEmpty());
    m_cancel->setEnabled(enabled);
}

void CUpgradePage::onBrowse() {
    const auto file = m_context.files.openFile(this, kFilter);
    if (!file)
        return;
    m_file->setText(qtText(*file));
    m_upgrade->setEnabled(true);
}

void CUpgradePage::onUpgrade() {
    if (m_running || m_file->text().isEmpty())
        return;
    m_running = true;
    setButtonsEnabled(false);
    m_context.session.progress().reset();
    m_progress->setValue(0);
    m_poller->start();
    const std::string path = stdText(m_file->text());
    const MacAddress device = MacAddress::fromText(m_mac);
    UtilityContext& context = m_context;
    CHomePlugDeviceManagerDlg& main = m_main;
    const QPointer<CUpgradePage> self(this);
    const bool started = runOperation<UpgradeRun>(
        m_main,
        [&context, &main, self, path, device] {
            app::Session& session = context.session;
            UpgradeRun run;
            if (!session.hasCurrentAdapter()) {
                run.outcome.detail = "no adapter reaches a device";
                return run;
            }
            // The upgrade puts the device on the public default key: a device on a private one is warned about.
            const app::NetworkMembership risk = app::membershipRiskOfUpgrade(session, device);
            if (risk != app::NetworkMembership::Kept &&
                context.showMessage(app::upgradeWarningMessageKey(risk), MessageIcon::Exclamation,
                                    MessageButtons::OkCancel) != MessageAnswer::Ok) {
                run.cancelled = true;
                return run;
            }
            mme::FirmwareUpgrade upgrade(session.operations(), session.pacing());
            upgrade.setBackupDir(paths::userDataDir() / "backups");
            run.outcome = upgrade.upgradeDevice(path, device);
            if (run.outcome.ok)
                session.pacing().sleep(kRestartWaitMs);
            const auto after = app::membershipAfterUpgrade(session, device, run.outcome, risk);
            if (after.membership != app::NetworkMembership::Kept) {
                callOnThread(main.windowObject(), [self, &run] {
                    if (self)
                        self->showOutcomeOnBar(run.outcome);
                });
                context.showMessage(app::upgradeMessageKey(run.outcome), MessageIcon::None);
                run.closing = rejoinAfterUpgrade(context, main, self, device, after);
            }
            return run;
        },
        // The dialog cannot close while the upgrade runs, so it is still there when the outcome arrives; the bar
        // shows where a failed upgrade stopped while its message is read. A worker that failed has been told by
        // the window already.
        [self, &main](std::optional<UpgradeRun> run) {
            if (self)
                self->upgradeEnded(run);
            if (run && !run->cancelled && run->outcome.ok)
                main.startManualScan();
        });
    if (!started) {
        m_running = false;
        m_poller->stop();
        setButtonsEnabled(true);
    }
}

void CUpgradePage::showOutcomeOnBar(const mme::UpgradeOutcome& outcome) {
    m_poller->stop();
    m_progress->setValue(outcome.ok ? 100 : m_progress->value());
}

void CUpgradePage::upgradeEnded(const std::optional<UpgradeRun>& run) {
    m_running = false;
    m_poller->stop();
    if (run && run->cancelled) {
        m_progress->setValue(0);
        setButtonsEnabled(true);
        return;
    }
    if (run) {
        m_progress->setValue(run->outcome.ok ? 100 : m_progress->value());
        if (run->closing.empty())
            m_context.showMessage(app::upgradeMessageKey(run->outcome), MessageIcon::None);
        else
            m_context.show(run->closing, MessageIcon::None);
    }
    m_progress->setValue(0);
    setButtonsEnabled(true);
    accept();
}

void CUpgradePage::pollProgress() {
    // The bar follows the bytes written; it shows 100 only once the upgrade has succeeded.
    const mme::Progress& progress = m_context.session.progress();
    const double fraction = progress.fraction.load();
    const int percent = static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 100));
    m_progress->setValue(std::min(percent, 99));
    // While the device restarts the bar says how long it is waited for, so that a silent device is no silent wait.
    const int left = progress.restartSecondsLeft();
    m_progress->setFormat(
        left < 0 ? QStringLiteral("%p%")
                 : qtText(fillPlaceholders(m_context.texts.LoadPageCaption("ZRQ406", "upgradeform", "RestartWait"),
                                           {std::to_string(left)})));
    if (!m_running)
        m_poller->stop();
}

void CUpgradePage::keyPressEvent(QKeyEvent* event) {
    // While the upgrade runs nothing closes the dialog; Enter never starts anything by itself.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        (m_running && event->key() == Qt::Key_Escape)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CUpgradePage::closeEvent(QCloseEvent* event) {
    if (m_running) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace zrq406::utility
