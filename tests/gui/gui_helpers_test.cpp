#include "gui/busy_scope.h"
#include "gui/qt_message_service.h"
#include "gui/qt_translations.h"
#include "gui/report_list.h"
#include "gui/run_operation.h"
#include "gui/window_thread.h"
#include "gui/worker_runner.h"
#include "tests/support/gui_wait.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace zrq406;

namespace {

// Records the busy states it is sent and the failures it is told, on the thread it lives on; one operation at a
// time, as a program's operation runner allows.
class RecordingWindow : public QObject, public BusyWindow {
public:
    void busyState(int state) override {
        onWindowThread = QThread::currentThread() == thread();
        states.push_back(state);
    }
    QObject* windowObject() override { return this; }
    void holdWindow() override {}
    void releaseWindow() override {}
    std::shared_ptr<void> beginOperation() override {
        if (operation.lock())
            return nullptr;
        auto taken = std::make_shared<int>(0);
        operation = taken;
        return taken;
    }
    void operationFailed(const std::string& what) override { failures.push_back(what); }
    WorkerRunner& workers() override { return runner; }

    std::vector<int> states;
    std::vector<std::string> failures;
    std::weak_ptr<void> operation;
    bool onWindowThread = false;
    WorkerRunner runner{this};
};

} // namespace

TEST(WorkerRunner, ResultsComeBackOnTheWindowThreadAndNeverToAWindowThatIsGone) {
    auto window = std::make_unique<QObject>();
    WorkerRunner runner(window.get());
    bool delivered = false;
    bool deliveredOnWindowThread = false;
    std::atomic<bool> calledInto{false};
    runner.start<int>(
        [&] {
            // A worker reaches the window only through a blocking call, which the waiting window thread serves.
            calledInto = callOnThread(window.get(), [] {});
            return 42;
        },
        [&](int value) {
            delivered = value == 42;
            deliveredOnWindowThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        });
    runner.waitForIdle();
    EXPECT_TRUE(calledInto);
    EXPECT_TRUE(delivered);
    EXPECT_TRUE(deliveredOnWindowThread);

    bool lateCall = false;
    {
        auto shortLived = std::make_unique<QObject>();
        WorkerRunner other(shortLived.get());
        other.start([] { QThread::msleep(20); }, [&] { lateCall = true; });
        shortLived.reset();
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(lateCall);
}

TEST(RunOperation, OneAtATimeAndAFailureComesBackToTheWindow) {
    RecordingWindow window;
    std::atomic<bool> release{false};
    bool firstDone = false;
    ASSERT_TRUE(runOperation(
        window,
        [&] {
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        },
        [&](bool finished) { firstDone = finished; }));
    // A second request while the first runs is refused before anything starts.
    bool secondRan = false;
    EXPECT_FALSE(runOperation(window, [&] { secondRan = true; }));
    release = true;
    window.runner.waitForIdle();
    EXPECT_TRUE(firstDone);
    EXPECT_FALSE(secondRan);
    EXPECT_FALSE(window.operation.lock());

    // A worker that throws: the busy state is left, the window is told, and the result handler still runs.
    std::optional<int> result = 1;
    bool delivered = false;
    ASSERT_TRUE(runOperation<int>(
        window, []() -> int { throw std::runtime_error("adapter gone"); },
        [&](std::optional<int> r) {
            delivered = true;
            result = r;
        }));
    window.runner.waitForIdle();
    EXPECT_TRUE(delivered);
    EXPECT_FALSE(result.has_value());
    EXPECT_EQ(window.failures, std::vector<std::string>{"adapter gone"});
    EXPECT_EQ(window.states,
              (std::vector<int>{BusyWindow::Enter, BusyWindow::Leave, BusyWindow::Enter, BusyWindow::Leave}));
    EXPECT_TRUE(window.onWindowThread);
    EXPECT_FALSE(window.operation.lock());
}

TEST(ReportList, RowsStateColoursAndCheckBoxes) {
    ReportList list;
    list.setColumnCount(3);
    list.setCheckable(true);
    list.setRows({{"1", "Kitchen", "Good"}, {"", "Office", "Poor"}});
    EXPECT_TRUE(list.isChecked(0));
    EXPECT_FALSE(list.isChecked(1));
    list.setChecked(1, true);
    EXPECT_EQ(list.rows()[1], (std::vector<std::string>{"1", "Office", "Poor"}));
    EXPECT_EQ(list.selectedRow(), -1);
    list.selectRow(1);
    EXPECT_EQ(list.selectedRow(), 1);
    list.setStateColours(2, {{"Good", Qt::green}});
    EXPECT_EQ(list.stateColour(2, "Good"), QColor(Qt::green));
    EXPECT_FALSE(list.stateColour(2, "Poor").isValid());
    EXPECT_FALSE(list.stateColour(1, "Good").isValid());
}

TEST(QtMessageService, ALongTextIsShownWholeInABoxThatScrolls) {
    std::string text = "The network password could not be set on these devices:\n";
    for (int i = 0; i < 100; ++i)
        text += "00:b0:52:00:01:" + std::to_string(10 + i % 90) + "\n";
    QString shownText;
    test::whenDialogOpens<QDialog>([&](QDialog& dialog) {
        if (auto* edit = dialog.findChild<QPlainTextEdit*>("messageText"))
            shownText = edit->toPlainText();
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    });
    QtMessageService messages;
    EXPECT_EQ(messages.show(Message{text, "Title", MessageIcon::None, MessageButtons::OkCancel}),
              MessageAnswer::Cancel);
    EXPECT_EQ(shownText.toStdString(), text);
}

TEST(QtTranslations, GermanQuestionsAnswerJaOrNein) {
    QStringList buttons;
    const auto answer = [&](QMessageBox& box) {
        buttons.clear();
        for (QAbstractButton* button : box.buttons())
            buttons << button->text().remove(QLatin1Char('&'));
        buttons.sort();
        box.button(QMessageBox::No)->click();
    };
    QtMessageService messages;
    const Message question{"Jetzt aktualisieren?", "Titel", MessageIcon::Information, MessageButtons::YesNo};
    {
        const QtTranslations german(true);
        ASSERT_TRUE(german.loaded());
        test::whenDialogOpens<QMessageBox>(answer);
        EXPECT_EQ(messages.show(question), MessageAnswer::No);
        EXPECT_EQ(buttons, QStringList({"Ja", "Nein"}));
    }
    // English needs no catalogue, and Qt's own English comes back when the German one goes.
    const QtTranslations english(false);
    test::whenDialogOpens<QMessageBox>(answer);
    EXPECT_EQ(messages.show(question), MessageAnswer::No);
    EXPECT_EQ(buttons, QStringList({"No", "Yes"}));
}
