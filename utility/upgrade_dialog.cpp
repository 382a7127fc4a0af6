#include "utility/upgrade_dialog.h"

#include "app/device_actions.h"
#include "gui/file_dialogs.h"
#include "gui/page_layout.h"
#include "gui/picture_box.h"
#include "gui/run_operation.h"
#include "gui/widget_font.h"
#include "mme/firmware_upgrade.h"
#include "platform/paths.h"
#include "uitext/load_ui_setting.h"
#include "utility/main_dialog.h"
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

namespace {
// The device restarts with its new firmware before the network is scanned again.
constexpr double kRestartWaitMs = 20000;
constexpr int kPollMs = 100;
constexpr char kFilter[] = "Binary Files (*.bin)|*.bin|NVM Files (*.nvm)|*.nvm|All Files (*.*)|*.*||";
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
    app::Session& session = m_context.session;
    CHomePlugDeviceManagerDlg& main = m_main;
    const QPointer<CUpgradePage> self(this);
    const bool started = runOperation<mme::UpgradeOutcome>(
        m_main,
        [&session, path, device] {
            mme::UpgradeOutcome outcome;
            if (!session.hasCurrentAdapter()) {
                outcome.detail = "no adapter reaches a device";
                return outcome;
            }
            mme::FirmwareUpgrade upgrade(session.operations(), session.pacing());
            upgrade.setBackupDir(paths::userDataDir() / "backups");
            outcome = upgrade.upgradeDevice(path, device);
            if (outcome.ok)
                session.pacing().sleep(kRestartWaitMs);
            return outcome;
        },
        // The dialog cannot close while the upgrade runs, so it is still there when the outcome arrives; the bar
        // shows where a failed upgrade stopped while its message is read. A worker that failed has been told by
        // the window already.
        [self, &main](std::optional<mme::UpgradeOutcome> outcome) {
            if (self)
                self->upgradeEnded(outcome);
            if (outcome && outcome->ok)
                main.startManualScan();
        });
    if (!started) {
        m_running = false;
        m_poller->stop();
        setButtonsEnabled(true);
    }
}

void CUpgradePage::upgradeEnded(const std::optional<mme::UpgradeOutcome>& outcome) {
    m_running = false;
    m_poller->stop();
    if (outcome) {
        m_progress->setValue(outcome->ok ? 100 : m_progress->value());
        m_context.show(m_context.message(app::upgradeMessageKey(*outcome)), MessageIcon::None);
    }
    m_progress->setValue(0);
    setButtonsEnabled(true);
    accept();
}

void CUpgradePage::pollProgress() {
    // The bar follows the bytes written; it shows 100 only once the upgrade has succeeded.
    const double fraction = m_context.session.progress().fraction.load();
    const int percent = static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 100));
    m_progress->setValue(std::min(percent, 99));
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
