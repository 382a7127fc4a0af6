#pragma once

#include <QDialog>
#include <atomic>
#include <optional>
#include <string>

class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace zrq406::mme {
struct UpgradeOutcome;
}

namespace zrq406::utility {

class CHomePlugDeviceManagerDlg;
class UtilityContext;

struct UpgradeRun;

// The firmware upgrade of one device from a file the user picks: the upgrade runs on a worker while a poller moves
// the bar; the dialog closes after every attempt, with its outcome told.
class CUpgradePage : public QDialog {
    Q_OBJECT
public:
    CUpgradePage(CHomePlugDeviceManagerDlg& main, const std::string& mac, QWidget* parent = nullptr);

public Q_SLOTS:
    void onBrowse();
    void onUpgrade();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void pollProgress();
    void setButtonsEnabled(bool enabled);
    // The outcome is told (nothing when the worker failed) and the dialog closes; after a cancel it stays open.
    void upgradeEnded(const std::optional<UpgradeRun>& run);
    // The bar stops where the upgrade ended, while the messages after it are read.
    void showOutcomeOnBar(const mme::UpgradeOutcome& outcome);

    CHomePlugDeviceManagerDlg& m_main;
    UtilityContext& m_context;
    std::string m_mac;
    QLineEdit* m_macText = nullptr;
    QLineEdit* m_file = nullptr;
    QPushButton* m_browse = nullptr;
    QPushButton* m_upgrade = nullptr;
    QPushButton* m_cancel = nullptr;
    QProgressBar* m_progress = nullptr;
    QTimer* m_poller = nullptr;
    std::atomic<bool> m_running{false};
};

} // namespace zrq406::utility
