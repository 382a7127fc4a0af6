#pragma once

#include <QDialog>
#include <atomic>
#include <memory>
#include <string>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace zrq406::app {
struct JoinOutcome;
}

namespace zrq406::utility {

class CHomePlugDeviceManagerDlg;
class UtilityContext;

// "Add a Device": pairs a new device with the network by the pair buttons. Three steps (plug the new device in near
// this one, press its pair button, click Pair); Pair presses the local device's button and searches the network for
// up to two minutes, as the window's device operation, with the seconds left shown. A device that joins is named,
// with a field to give it a name of its own, and the window rescans so that every page shows it; when none joins the
// dialog says what to try. Cancel stops the search; the dialog closes once it has ended.
class CAddDeviceDialog : public QDialog {
    Q_OBJECT
public:
    enum Step { PlugIn, PressButton, ClickPair, Searching, Found, NotFound, NotPressed };

    CAddDeviceDialog(UtilityContext& context, CHomePlugDeviceManagerDlg& main, QWidget* parent = nullptr);

    Step step() const { return m_step; }
    // The device that joined in the last search, and its name as the scan gave it.
    const std::string& foundMac() const { return m_foundMac; }
    const std::string& foundName() const { return m_foundName; }

public Q_SLOTS:
    void reject() override;

private:
    void showStep(Step step);
    void onNext();
    void onBack();
    void onPair();
    void onFinish();
    // Window thread: the seconds left of the two minutes.
    void showSecondsLeft(int seconds);
    // Window thread: the search has ended (nullptr when its worker failed, which the window has told).
    void searchEnded(const app::JoinOutcome* outcome);
    std::string text(const char* node, const char* field = "Text") const;

    UtilityContext& m_context;
    CHomePlugDeviceManagerDlg& m_main;
    Step m_step = PlugIn;
    std::string m_foundMac;
    std::string m_foundName;
    bool m_searching = false;
    bool m_closeWhenStopped = false;
    std::shared_ptr<std::atomic<bool>> m_stop;
    QLabel* m_heading = nullptr;
    QStackedWidget* m_pages = nullptr;
    QLabel* m_searchText = nullptr;
    QProgressBar* m_countdown = nullptr;
    QLabel* m_found = nullptr;
    QLineEdit* m_name = nullptr;
    QPushButton* m_back = nullptr;
    QPushButton* m_next = nullptr;
    QPushButton* m_pair = nullptr;
    QPushButton* m_tryAgain = nullptr;
    QPushButton* m_finish = nullptr;
    QPushButton* m_close = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace zrq406::utility
