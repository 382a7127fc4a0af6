#include "app/instance_names.h"
#include "gui/report_list.h"
#include "platform/instance_lock.h"
#include "platform/text_field.h"
#include "registry/history_file.h"
#include "tests/support/accessibility.h"
#include "utility/led_dialog.h"
#include "utility/network_page.h"
#include "utility/upgrade_dialog.h"
#include "utility/utility_app.h"
#include "utility_fixture.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

using namespace zrq406;
using zrq406::test::UtilityTest;

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

    // Exit pressed during a manual scan does not close the window; the scan saves the history.
    page->onScan();
    EXPECT_FALSE(upgrade->isEnabled());
    exit->click();
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
    main->startManualScan();
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
    main->onScanTimer();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(shown("msg24"), 2);
    EXPECT_EQ(HistoryFile(program->historyPath()).load(history).loaded, 1);
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
    bool found = false;
    QObject::connect(main.get(), &utility::CHomePlugDeviceManagerDlg::scanFinished, [&](bool f) { found = f; });
    main->onScanTimer();
    EXPECT_TRUE(main->isBusy()); // the rescan runs on a worker; the window keeps painting meanwhile
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(found);
    EXPECT_TRUE(main->scanTimer()->isActive());

    // A new interface while idle: the adapters are opened again and the timer restarted.
    main->onDeviceArrival();
    EXPECT_TRUE(main->scanTimer()->isActive());
    EXPECT_TRUE(context->session.hasCurrentAdapter() || context->session.adapters().count() == 1);
    // While busy it waits for the busy state's end.
    main->onScanTimer();
    main->onDeviceArrival();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(context->session.adapters().count(), 1);
    EXPECT_TRUE(main->scanTimer()->isActive());
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
