#include "app/instance_names.h"
#include "gui/report_list.h"
#include "platform/instance_lock.h"
#include "platform/text_field.h"
#include "registry/history_file.h"
#include "tests/support/accessibility.h"
#include "utility/diagnostics_page.h"
#include "utility/encryption_page.h"
#include "utility/led_dialog.h"
#include "utility/network_page.h"
#include "utility/password_dialog.h"
#include "utility/upgrade_dialog.h"
#include "utility/utility_app.h"
#include "utility_fixture.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <system_error>
#include <thread>

using namespace zrq406;
using zrq406::test::UtilityTest;

namespace {
// The scan timer's period ends.
void tick(utility::CHomePlugDeviceManagerDlg& main) {
    QMetaObject::invokeMethod(main.scanTimer(), "timeout");
}
} // namespace

TEST_F(UtilityTest, StartupRefusesBesideTheUpgradeToolOrASecondCopyInAnyLanguage) {
    makeWindow();
    InstanceLock tool;
    ASSERT_TRUE(tool.acquire(app::kUpgradeToolInstance));
    InstanceLock own;
    EXPECT_FALSE(utility::CHomePlugDeviceManagerApp::checkInstances(program->texts, program->messages, own));
    EXPECT_EQ(shown("Childmsg01"), 1);
    tool.release();

    // A German copy runs; an English one is refused beside it, and the upgrade tool sees it under the same name.
    auto german = std::make_unique<test::SimulatedProgram>(test::SimulatedProgram::builtInNetwork(), "German.xml");
    InstanceLock first;
    ASSERT_TRUE(utility::CHomePlugDeviceManagerApp::checkInstances(german->texts, german->messages, first));
    EXPECT_TRUE(InstanceLock::exists(app::kUtilityInstance));
    InstanceLock second;
    EXPECT_FALSE(utility::CHomePlugDeviceManagerApp::checkInstances(program->texts, program->messages, second));
    EXPECT_EQ(shown("msg01"), 1);
    EXPECT_FALSE(second.held());
}

TEST_F(UtilityTest, BusyStateLocksTheControlsAndNeverTheClosedWindow) {
    makeWindow();
    auto* page = main->networkPage();
    auto* upgrade = page->findChild<QPushButton*>("button_Firmware_Upgrade");
    auto* exit = main->findChild<QPushButton*>("CloseButton");
    main->show();
    ASSERT_TRUE(main->start());
    // The start-up scan holds the busy state: actions, tabs and Exit are locked and the window does not close.
    EXPECT_TRUE(main->isBusy());
    EXPECT_FALSE(page->findChild<QPushButton*>("button_Scan")->isEnabled());
    EXPECT_FALSE(main->tabs()->tabBar()->isEnabled());
    EXPECT_FALSE(exit->isEnabled());
    main->close();
    EXPECT_TRUE(main->isVisible());
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(page->rows().size(), 4u);
    EXPECT_TRUE(page->findChild<QPushButton*>("button_Scan")->isEnabled());
    EXPECT_TRUE(exit->isEnabled());
    EXPECT_TRUE(main->scanTimer()->isActive());
    // Firmware Upgrade waits for a device to be chosen, and leaving the busy state does not enable it.
    EXPECT_FALSE(upgrade->isEnabled());
    page->list()->selectRow(1);
    EXPECT_TRUE(upgrade->isEnabled());

    // During a manual scan Exit is locked, and neither Escape nor the close box closes the window; the scan saves
    // the history, and the new list leaves no device chosen.
    page->findChild<QPushButton*>("button_Scan")->click();
    EXPECT_TRUE(main->isBusy());
    EXPECT_FALSE(upgrade->isEnabled());
    EXPECT_FALSE(exit->isEnabled());
    QTest::keyClick(main.get(), Qt::Key_Escape);
    main->close();
    EXPECT_TRUE(main->isVisible());
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(main->isVisible());
    EXPECT_FALSE(upgrade->isEnabled());
    HistoryTable history{};
    EXPECT_EQ(HistoryFile(program->historyPath()).load(history).loaded, 4);

    exit->click();
    EXPECT_FALSE(main->isVisible());
}

TEST_F(UtilityTest, UpgradeOfferedOncePerScanAndNeverAgainWhenDeclined) {
    makeWindow();
    // The built-in network's third device runs firmware without the reference base: it is offered the upgrade.
    program->messages.queueAnswer(MessageAnswer::No);
    ASSERT_TRUE(startAndWait());
    EXPECT_EQ(shown("msg60"), 1);
    EXPECT_TRUE(context->declined.contains("00:b0:52:5a:00:03"));
    main->networkPage()->findChild<QPushButton*>("button_Scan")->click();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(shown("msg60"), 1);
    EXPECT_EQ(main->networkPage()->rows().size(), 4u);
}

TEST_F(UtilityTest, LaunchingTheUpgradeToolClosesOrSaysWhyNot) {
    makeWindow();
    context->upgradeToolPath = program->path("no-such-upgrade-tool");
    program->messages.queueAnswer(MessageAnswer::Yes);
    main->show();
    ASSERT_TRUE(startAndWait());
    EXPECT_EQ(shown("msg61"), 1);
    EXPECT_TRUE(main->isVisible());
    EXPECT_FALSE(context->bothRun.held());
    // A tool that did not start counts as declined: the rescan neither offers it again nor fails again.
    main->onScanTimer();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(shown("msg60"), 1);
    EXPECT_EQ(shown("msg61"), 1);

    context->upgradeToolPath = "/bin/true";
    context->declined = {};
    program->messages.queueAnswer(MessageAnswer::Yes);
    main->startManualScan();
    ASSERT_TRUE(waitIdle());
    // The tool runs beside the utility only while "BothRun" is held; the window closed at the busy state's end.
    EXPECT_TRUE(context->bothRun.held());
    EXPECT_FALSE(main->isVisible());
}

TEST_F(UtilityTest, NoDeviceShowsTheHistoryAndMsg24) {
    auto network = test::SimulatedProgram::builtInNetwork();
    network["hostAdapters"][0].erase("device");
    makeWindow(network);
    HistoryTable history{};
    copyToField(history.records[0].name, "Attic");
    copyToField(history.records[0].mac, "00:b0:52:5a:00:02");
    ASSERT_TRUE(HistoryFile(program->historyPath()).save(history, 1));
    ASSERT_TRUE(startAndWait());
    EXPECT_EQ(shown("msg24"), 1);
    EXPECT_TRUE(main->networkPage()->rows().empty());
    // A rescan finding nothing again leaves the stored history as it was.
    tick(*main);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(shown("msg24"), 2);
    EXPECT_EQ(HistoryFile(program->historyPath()).load(history).loaded, 1);
}

// A second host answering as the attached device: no device is listed, the message names both, once however often
// the timer rescans, and no operation finds an adapter to send on.
TEST_F(UtilityTest, TwoDevicesAnsweringAsTheAttachedOneAreNamedOnceAndNothingIsListed) {
    auto network = test::SimulatedProgram::builtInNetwork();
    network["hostAdapters"][0]["impostors"] = {"02:66:77:88:99:aa"};
    makeWindow(network);
    ASSERT_TRUE(startAndWait());
    ASSERT_EQ(shown("msg111"), 1);
    EXPECT_NE(program->messages.texts().back().find("02:66:77:88:99:aa"), std::string::npos);
    EXPECT_NE(program->messages.texts().back().find("00:b0:52:5a:00:01"), std::string::npos);
    EXPECT_EQ(shown("msg24"), 0);
    EXPECT_TRUE(main->networkPage()->rows().empty());
    EXPECT_FALSE(context->session.hasCurrentAdapter());
    tick(*main);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(shown("msg111"), 1);
}

TEST_F(UtilityTest, NoUsableAdapterSaysSoAndLeavesTheHistoryAlone) {
    auto network = test::SimulatedProgram::builtInNetwork();
    network["hostAdapters"] = nlohmann::json::array();
    makeWindow(network);
    HistoryTable history{};
    copyToField(history.records[0].mac, "00:b0:52:5a:00:02");
    ASSERT_TRUE(HistoryFile(program->historyPath()).save(history, 1));
    EXPECT_FALSE(main->start());
    EXPECT_EQ(shown("msg02"), 1);
    main->close();
    EXPECT_EQ(HistoryFile(program->historyPath()).load(history).loaded, 1);
}

TEST_F(UtilityTest, TimerRescanAndDeviceArrival) {
    makeWindow();
    ASSERT_TRUE(startAndWait());
    // Reopened adapters show in the system information, which the test empties after every scan.
    auto* system = main->diagnosticsPage()->findChild<ReportList*>("listView2");
    int scans = 0;
    QObject::connect(main.get(), &utility::CHomePlugDeviceManagerDlg::scanFinished, [&](bool found) {
        scans += found ? 1 : 0;
        system->clear();
    });
    tick(*main);
    EXPECT_TRUE(main->isBusy()); // the rescan runs on a worker; the window keeps painting meanwhile
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(scans, 1);
    EXPECT_TRUE(main->scanTimer()->isActive());

    // A new interface while idle: the adapters are opened again at once, on the same current adapter, and the
    // timer restarted.
    main->onDeviceArrival();
    EXPECT_GT(system->topLevelItemCount(), 0);
    EXPECT_TRUE(context->session.hasCurrentAdapter());
    EXPECT_TRUE(main->scanTimer()->isActive());
    // During a rescan it waits for the rescan's end, then happens.
    system->clear();
    tick(*main);
    main->onDeviceArrival();
    EXPECT_EQ(system->topLevelItemCount(), 0);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(scans, 2);
    EXPECT_GT(system->topLevelItemCount(), 0);
    EXPECT_TRUE(main->scanTimer()->isActive());
}

TEST_F(UtilityTest, NothingStartsUnderAnOpenDialog) {
    makeWindow();
    ASSERT_TRUE(startAndWait());
    auto* page = main->networkPage();
    auto* system = main->diagnosticsPage()->findChild<ReportList*>("listView2");
    int scans = 0;
    QObject::connect(main.get(), &utility::CHomePlugDeviceManagerDlg::scanFinished, [&] { ++scans; });
    // Under each dialog a device arrives and the scan timer ticks: neither reopens the adapters nor scans until
    // the dialog has closed.
    struct Seen {
        bool timerActive = true;
        bool busy = true;
        int systemRows = -1;
    };
    auto arriveAndTick = [&](Seen& seen) {
        system->clear();
        main->onDeviceArrival();
        tick(*main);
        seen = {main->scanTimer()->isActive(), main->isBusy(), system->topLevelItemCount()};
    };
    auto expectNothingUnder = [&](const Seen& seen, const char* dialog) {
        EXPECT_FALSE(seen.timerActive) << dialog;
        EXPECT_FALSE(seen.busy) << dialog;
        EXPECT_EQ(seen.systemRows, 0) << dialog;
        // Once the dialog has closed, the waiting arrival reopens the adapters and the timer runs again.
        EXPECT_GT(system->topLevelItemCount(), 0) << dialog;
        EXPECT_TRUE(main->scanTimer()->isActive()) << dialog;
        EXPECT_EQ(scans, 0) << dialog;
    };
    page->list()->selectRow(test::rowWithMac(page->rows(), utility::CNetworkPage::Mac, "00:b0:52:5a:00:02"));

    Seen led;
    test::whenDialogOpens<utility::CSetLED>([&](utility::CSetLED& dialog) {
        arriveAndTick(led);
        dialog.findChild<QPushButton*>("btnLEDCancel")->click();
    });
    page->findChild<QPushButton*>("btnLedOnOff")->click();
    expectNothingUnder(led, "LED");

    Seen upgrade;
    test::whenDialogOpens<utility::CUpgradePage>([&](utility::CUpgradePage& dialog) {
        arriveAndTick(upgrade);
        dialog.findChild<QPushButton*>("button3")->click();
    });
    page->findChild<QPushButton*>("button_Firmware_Upgrade")->click();
    expectNothingUnder(upgrade, "upgrade");

    // The device password dialog, also while its proof runs.
    auto* encryption = main->encryptionPage();
    encryption->list()->selectRow(
        test::rowWithMac(encryption->rows(), utility::CEncryptionPage::Mac, "00:b0:52:5a:00:02"));
    Seen password;
    Seen proving;
    test::whenDialogOpens<utility::CSetDAK>([&](utility::CSetDAK& dialog) {
        arriveAndTick(password);
        dialog.findChild<QLineEdit*>("txbDevicePwd")->setText(QStringLiteral("AAAA-BBBB-CCCC-DDDD"));
        dialog.findChild<QPushButton*>("btnOK")->click();
        arriveAndTick(proving);
        ASSERT_TRUE(test::waitUntil([&] { return !dialog.proving(); }));
        dialog.findChild<QPushButton*>("btnCancel")->click();
    });
    encryption->findChild<QPushButton*>("btnEnterPWD")->click();
    expectNothingUnder(password, "password");
    EXPECT_FALSE(proving.timerActive);
    EXPECT_EQ(proving.systemRows, 0);
    EXPECT_EQ(shown("msg04"), 1);
    // No exchange ever began while another one waited.
    EXPECT_EQ(context->session.exchange().overlaps(), 0);
}

TEST_F(UtilityTest, ASecondOperationIsRefusedWhileOneRuns) {
    makeWindow();
    ASSERT_TRUE(startAndWait());
    int scans = 0;
    QObject::connect(main.get(), &utility::CHomePlugDeviceManagerDlg::scanFinished, [&] { ++scans; });
    main->networkPage()->findChild<QPushButton*>("button_Scan")->click();
    ASSERT_TRUE(main->isBusy());
    // A request that reaches the window meanwhile (here the upgrade dialog's rescan) is refused with a message.
    main->startManualScan();
    EXPECT_EQ(shown("msg83"), 1);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(scans, 1);
    EXPECT_EQ(context->session.exchange().overlaps(), 0);
}

TEST_F(UtilityTest, AWorkerThatCannotStartIsToldOnceAndLeavesTheWindowFree) {
    makeWindow();
    ASSERT_TRUE(startAndWait());
    int scans = 0;
    QObject::connect(main.get(), &utility::CHomePlugDeviceManagerDlg::scanFinished, [&] { ++scans; });
    main->workers().setThreadStart([](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    auto* scan = main->networkPage()->findChild<QPushButton*>("button_Scan");
    scan->click();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(shown("msg84"), 1);
    EXPECT_EQ(scans, 0);
    EXPECT_TRUE(scan->isEnabled());
    // The operation ended with it, and the window closes.
    EXPECT_FALSE(context->session.runner().running());
    main->close();
    EXPECT_FALSE(main->isVisible());
}

// Screen readers and UI automation name every control by its text or caption, in both languages.
TEST_F(UtilityTest, EveryControlHasAnAccessibleName) {
    for (const char* language : {"English.xml", "German.xml"}) {
        makeWindow(test::SimulatedProgram::builtInNetwork(), language);
        EXPECT_EQ(test::unnamedControls(main.get()), std::vector<std::string>()) << language;
        utility::CSetLED led(*context, "<b>Kitchen</b>", "00:b0:52:5a:00:02", "On");
        EXPECT_EQ(test::unnamedControls(&led), std::vector<std::string>()) << language;
        // A device name is shown as it stands, never read as markup.
        EXPECT_EQ(led.findChild<QLabel*>("lblLEDSetDevice")->textFormat(), Qt::PlainText);
        utility::CUpgradePage upgrade(*main, "00:b0:52:5a:00:02");
        EXPECT_EQ(test::unnamedControls(&upgrade), std::vector<std::string>()) << language;
    }
}
