#include "gui/busy_scope.h"
#include "gui/qt_message_service.h"
#include "gui/qt_translations.h"
#include "gui/report_list.h"
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
#include <vector>

using namespace zrq406;

namespace {

// Records the busy states it is sent, on the thread it lives on.
class RecordingWindow : public QObject, public BusyWindow {
public:
    void busyState(int state) override {
        onWindowThread = QThread::currentThread() == thread();
        states.push_back(state);
    }
    QObject* windowObject() override { return this; }
    std::vector<int> states;
    bool onWindowThread = false;
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

TEST(BusyScope, EveryWayOutOfAWorkerLeavesTheBusyState) {
    RecordingWindow window;
    WorkerRunner runner(&window);
    runner.start([&] {
        BusyScope busy(window);
        throw 1; // a flow that ends early
    });
    runner.waitForIdle();
    // Enter, leave, start the scan timer again; each on the window thread.
    EXPECT_EQ(window.states, (std::vector<int>{BusyWindow::Enter, BusyWindow::Leave, BusyWindow::StartTimer}));
    EXPECT_TRUE(window.onWindowThread);
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
