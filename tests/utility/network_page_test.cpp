#include "app/hardware_makers.h"
#include "gui/report_list.h"
#include "mme/device_operations.h"
#include "mme/key_derivation.h"
#include "mme/upgrade_file.h"
#include "platform/hex_text.h"
#include "platform/text_field.h"
#include "registry/history_file.h"
#include "request_log.h"
#include "sim/config_block.h"
#include "sim/firmware_image.h"
#include "sim/network.h"
#include "tests/support/accessibility.h"
#include "utility/encryption_page.h"
#include "utility/led_dialog.h"
#include "utility/network_map.h"
#include "utility/network_map_page.h"
#include "utility/network_page.h"
#include "utility/password_dialog.h"
#include "utility/upgrade_dialog.h"
#include "utility_fixture.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <fstream>

using namespace zrq406;
using zrq406::test::UtilityTest;
using zrq406::test::withFault;

namespace {
const std::string kRemote = "00:b0:52:5a:00:02";
const std::string kOld = "00:b0:52:5a:00:03";

int rowOf(utility::CNetworkPage& page, const std::string& mac) {
    return test::rowWithMac(page.rows(), utility::CNetworkPage::Mac, mac);
}

void click(utility::CNetworkPage& page, const char* button) {
    page.findChild<QPushButton*>(button)->click();
}

} // namespace

TEST_F(UtilityTest, EveryActionAsksForADeviceFirst) {
    makeWindow();
    ASSERT_TRUE(startAndWait());
    auto* page = main->networkPage();
    for (const char* button : {"button_Rename", "button_Factory_Reset", "btnLedOnOff"})
        click(*page, button);
    // Firmware Upgrade is locked without a chosen device.
    EXPECT_FALSE(page->findChild<QPushButton*>("button_Firmware_Upgrade")->isEnabled());
    EXPECT_EQ(shown("msg53"), 3);
    EXPECT_FALSE(main->isBusy());
    EXPECT_TRUE(main->scanTimer()->isActive());
}

TEST_F(UtilityTest, RenamedTwiceTheLaterNameIsSavedEverywhere) {
    makeWindow();
    ASSERT_TRUE(startAndWait());
    auto* page = main->networkPage();
    const int row = rowOf(*page, kRemote);
    auto rename = [&](const char* name) {
        page->list()->selectRow(row);
        click(*page, "button_Rename");
        // The user types over the name in place and presses Enter.
        auto* editor = page->list()->viewport()->findChild<QLineEdit*>();
        ASSERT_NE(editor, nullptr);
        editor->setText(QString::fromUtf8(name));
        QTest::keyClick(editor, Qt::Key_Return);
        QApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    rename("Kitchen");
    rename("Living room");
    EXPECT_EQ(std::count(context->renamedRows.begin(), context->renamedRows.end(), row), 2);
    EXPECT_EQ(page->list()->cell(row, 0), "Living room");
    // An empty name is refused and the old one comes back.
    rename("");
    EXPECT_EQ(shown("msg52"), 1);
    EXPECT_EQ(page->list()->cell(row, 0), "Living room");
    for (const auto& r : main->encryptionPage()->rows()) {
        if (r[utility::CEncryptionPage::Mac] == kRemote) {
            EXPECT_EQ(r[utility::CEncryptionPage::Name], "Living room");
        }
    }

    main->findChild<QPushButton*>("CloseButton")->click();
    HistoryTable history{};
    const auto loaded = HistoryFile(program->historyPath()).load(history);
    bool saved = false;
    for (int i = 0; i < loaded.loaded; ++i)
        saved |= fieldText(history.records[i].mac) == kRemote && fieldText(history.records[i].name) == "Living room";
    EXPECT_TRUE(saved);
}

TEST_F(UtilityTest, FactoryResetReportsRescansAndAlwaysLeavesTheBusyState) {
    makeWindow(withFault(kOld, {{"kind", "fail"}, {"message", "factory-reset"}, {"share", 1}}));
    ASSERT_TRUE(startAndWait());
    auto* page = main->networkPage();
    page->list()->selectRow(rowOf(*page, kRemote));
    click(*page, "button_Factory_Reset");
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(shown("msg51"), 1);
    EXPECT_EQ(shown("msg48"), 1);
    EXPECT_EQ(shown("msg59"), 0);
    EXPECT_GE(rowOf(*page, kRemote), 0); // back after its restart

    // A device that refuses: msg49, still a rescan, and the window is usable again.
    bool rescanned = false;
    QObject::connect(main.get(), &utility::CHomePlugDeviceManagerDlg::scanFinished, [&] { rescanned = true; });
    page->list()->selectRow(rowOf(*page, kOld));
    click(*page, "button_Factory_Reset");
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(shown("msg49"), 1);
    EXPECT_TRUE(rescanned);
    EXPECT_TRUE(page->findChild<QPushButton*>("button_Scan")->isEnabled());

    // Cancel at the question: nothing is sent.
    program->messages.queueAnswer(MessageAnswer::Cancel);
    page->list()->selectRow(0);
    click(*page, "button_Factory_Reset");
    EXPECT_FALSE(main->isBusy());
    EXPECT_EQ(shown("msg48") + shown("msg49"), 2);
}

TEST_F(UtilityTest, LedDialogIsPresetAndBothOutcomesAreTold) {
    makeWindow(withFault(kOld, {{"kind", "fail"}, {"message", "commit"}, {"share", 1}}));
    ASSERT_TRUE(startAndWait());
    auto* page = main->networkPage();
    const int row = rowOf(*page, kRemote);
    page->list()->selectRow(row);
    bool presetOn = false;
    test::whenDialogOpens<utility::CSetLED>([&](utility::CSetLED& dialog) {
        presetOn = dialog.findChild<QRadioButton*>("rdoEnableLED")->isChecked();
        dialog.findChild<QRadioButton*>("rdoDisableLED")->click();
        dialog.findChild<QPushButton*>("btnLEDApply")->click();
    });
    click(*page, "btnLedOnOff");
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(presetOn);
    EXPECT_EQ(shown("msg38"), 1);
    EXPECT_EQ(page->list()->cell(row, utility::CNetworkPage::Led), "Off");
    EXPECT_EQ(context->ledChangedRows.back(), row);
    // The row is still chosen, so Firmware Upgrade is offered again once the change is done.
    EXPECT_EQ(page->list()->selectedRow(), row);
    EXPECT_TRUE(page->findChild<QPushButton*>("button_Firmware_Upgrade")->isEnabled());
    // The dialog of a device whose LEDs are off starts on Disable; Cancel changes nothing.
    bool presetOff = false;
    test::whenDialogOpens<utility::CSetLED>([&](utility::CSetLED& dialog) {
        presetOff = dialog.findChild<QRadioButton*>("rdoDisableLED")->isChecked();
        dialog.findChild<QPushButton*>("btnLEDCancel")->click();
    });
    click(*page, "btnLedOnOff");
    EXPECT_TRUE(presetOff);
    EXPECT_FALSE(main->isBusy());
    // A device that refuses the new setting: msg39, and its row keeps its word.
    const int old = rowOf(*page, kOld);
    page->list()->selectRow(old);
    test::whenDialogOpens<utility::CSetLED>([&](utility::CSetLED& dialog) {
        dialog.findChild<QRadioButton*>("rdoDisableLED")->click();
        dialog.findChild<QPushButton*>("btnLEDApply")->click();
    });
    click(*page, "btnLedOnOff");
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(shown("msg39"), 1);
    EXPECT_EQ(page->list()->cell(old, utility::CNetworkPage::Led), "On");
}

TEST_F(UtilityTest, ALedChangeOnABlockNamingAnotherDeviceReadsAgainAndWritesNothing) {
    sim::ConfigBlockFields fields;
    fields.mac = MacAddress::fromText(kOld);
    const auto block = sim::makeConfigBlock(fields);
    auto network = test::SimulatedProgram::builtInNetwork();
    for (auto& device : network["devices"])
        if (device["mac"] == kRemote)
            device["configBlock"] = hexText(block);
    makeWindow(network);
    ASSERT_TRUE(startAndWait());
    auto* page = main->networkPage();
    const int row = rowOf(*page, kRemote);
    page->list()->selectRow(row);
    test::RequestLog log(*context->session.network());
    test::whenDialogOpens<utility::CSetLED>([&](utility::CSetLED& dialog) {
        dialog.findChild<QRadioButton*>("rdoDisableLED")->click();
        dialog.findChild<QPushButton*>("btnLEDApply")->click();
    });
    click(*page, "btnLedOnOff");
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(shown("msg39"), 1);
    EXPECT_EQ(log.count("read-module", kRemote), mme::DeviceOperations::kBlockReadTries);
    EXPECT_EQ(log.count("write-module", kRemote), 0);
    EXPECT_EQ(context->session.network()->device(MacAddress::fromText(kRemote))->configBlock, block);
}

TEST_F(UtilityTest, UpgradeDialogWaitsForAFileAndClosesAfterEveryAttempt) {
    makeWindow();
    ASSERT_TRUE(startAndWait());
    auto* page = main->networkPage();
    page->list()->selectRow(rowOf(*page, kOld));
    std::ofstream(program->path("broken.bin")) << "not an upgrade file";
    files.queueAnswer(program->path("broken.bin").string());
    bool disabledBeforeBrowse = false;
    QProgressBar* failedBar = nullptr;
    test::whenDialogOpens<utility::CUpgradePage>([&](utility::CUpgradePage& dialog) {
        auto* upgrade = dialog.findChild<QPushButton*>("button2");
        failedBar = dialog.findChild<QProgressBar*>("progressBar1");
        disabledBeforeBrowse = !upgrade->isEnabled();
        dialog.findChild<QPushButton*>("btnUpgradeLoadFW")->click();
        upgrade->click();
    });
    int failedBarAtMessage = -1;
    program->messages.setOnShow([&](const Message&) { failedBarAtMessage = failedBar->value(); });
    click(*page, "button_Firmware_Upgrade");
    program->messages.setOnShow({});
    EXPECT_TRUE(disabledBeforeBrowse);
    // The failure was told while the bar still showed where the upgrade stopped.
    EXPECT_GE(failedBarAtMessage, 0);
    EXPECT_LT(failedBarAtMessage, 100);
    EXPECT_EQ(files.lastFilter(), "Binary Files (*.bin)|*.bin|NVM Files (*.nvm)|*.nvm|All Files (*.*)|*.*||");
    EXPECT_EQ(shown("msg32"), 1);
    EXPECT_FALSE(main->isBusy());

    // A good file: the bar reaches 100 only on success, the outcome is told, and the network is scanned again.
    const auto bytes = mme::packUpgradeFile(sim::makeFirmwareImage("ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712", 8192),
                                            sim::makeConfigBlock({}), "3-3-3348-00-2764-CE-0712");
    std::ofstream(program->path("good.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    files.queueAnswer(program->path("good.bin").string());
    QProgressBar* bar = nullptr;
    test::whenDialogOpens<utility::CUpgradePage>([&](utility::CUpgradePage& dialog) {
        bar = dialog.findChild<QProgressBar*>("progressBar1");
        dialog.findChild<QPushButton*>("btnUpgradeLoadFW")->click();
        dialog.findChild<QPushButton*>("button2")->click();
    });
    int barAtMessage = -1;
    program->messages.setOnShow([&](const Message&) { barAtMessage = bar != nullptr ? bar->value() : -1; });
    // While the device restarts, the bar counts down to the moment the upgrade would give it up.
    QString countdown;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (bar != nullptr && bar->format() != QStringLiteral("%p%"))
            countdown = bar->text();
    });
    sampler.start(10);
    page->list()->selectRow(rowOf(*page, kOld));
    click(*page, "button_Firmware_Upgrade");
    sampler.stop();
    program->messages.setOnShow({});
    EXPECT_EQ(shown("msg31"), 1);
    EXPECT_EQ(barAtMessage, 100);
    EXPECT_TRUE(countdown.startsWith(QStringLiteral("Device restarting: given up in "))) << countdown.toStdString();
    ASSERT_TRUE(waitIdle());
    const auto rows = page->rows();
    // The device shows its platform word before the new firmware's numbers.
    const std::string firmware = rows[static_cast<std::size_t>(rowOf(*page, kOld))][utility::CNetworkPage::Firmware];
    EXPECT_EQ(firmware.substr(7), "-MAC-3-3-3348-00-2764-CE-0712");
}

namespace {
const std::string kLocal = "00:b0:52:5a:00:01";
const std::string kNetworkPassword = "OurNetwork42";

// The built-in network with every device on one private key.
nlohmann::json privateNetwork() {
    auto network = test::SimulatedProgram::builtInNetwork();
    for (auto& device : network["devices"])
        device["networkPassword"] = kNetworkPassword;
    return network;
}

// An upgrade file that changes the configuration block of the devices of the built-in network only.
std::string configOnlyUpgrade(const test::SimulatedProgram& program) {
    const auto bytes = mme::packUpgradeFile(sim::makeFirmwareImage("ZRQPLC1-MAC-3-3-3348-00-2764-CE-0713", 8192),
                                            sim::makeConfigBlock({}), "3-3-3348-00-2764-CE-0713");
    const auto path = program.path("config.bin");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

mme::Key keyOf(utility::UtilityContext& context, const std::string& mac) {
    return context.session.network()->device(MacAddress::fromText(mac))->nmk;
}
} // namespace

TEST_F(UtilityTest, UpgradingTheLocalDeviceOfAPrivateNetworkWarnsAndPutsItBack) {
    makeWindow(privateNetwork());
    ASSERT_TRUE(startAndWait());
    auto* page = main->networkPage();
    files.queueAnswer(configOnlyUpgrade(*program));
    files.queueAnswer(configOnlyUpgrade(*program));
    // Cancelled at the warning: nothing is written and the dialog stays open.
    program->messages.queueAnswer(MessageAnswer::Cancel);
    test::whenDialogOpens<utility::CUpgradePage>([&](utility::CUpgradePage& dialog) {
        auto* upgrade = dialog.findChild<QPushButton*>("button2");
        dialog.findChild<QPushButton*>("btnUpgradeLoadFW")->click();
        upgrade->click();
        EXPECT_TRUE(test::waitUntil([&] { return upgrade->isEnabled(); }));
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(shown("msg75"), 1);
        EXPECT_EQ(shown("msg32") + shown("msg31"), 0);
        dialog.findChild<QPushButton*>("button3")->click();
    });
    page->list()->selectRow(rowOf(*page, kLocal));
    page->onFirmwareUpgrade();
    EXPECT_FALSE(std::filesystem::exists(program->dir() / "zrq406" / "backups"));

    // Upgraded after the warning, told what happened to its network and put back on it.
    test::whenDialogOpens<utility::CUpgradePage>([&](utility::CUpgradePage& dialog) {
        dialog.findChild<QPushButton*>("btnUpgradeLoadFW")->click();
        dialog.findChild<QPushButton*>("button2")->click();
    });
    page->list()->selectRow(rowOf(*page, kLocal));
    page->onFirmwareUpgrade();
    EXPECT_EQ(shown("msg75"), 2);
    EXPECT_EQ(shown("msg31"), 1);
    EXPECT_EQ(shown("msg77"), 1);
    EXPECT_EQ(shown("msg79"), 1);
    EXPECT_EQ(keyOf(*context, kLocal), mme::DeriveNmk(kNetworkPassword));
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(page->rows().size(), 4u);
}

TEST_F(UtilityTest, ARemoteDeviceUpgradedOutOfAPrivateNetworkComesBackWithTheDevicePasswordAsked) {
    makeWindow(privateNetwork());
    ASSERT_TRUE(startAndWait());
    auto* page = main->networkPage();
    files.queueAnswer(configOnlyUpgrade(*program));
    test::whenDialogOpens<utility::CUpgradePage>([&](utility::CUpgradePage& dialog) {
        dialog.findChild<QPushButton*>("btnUpgradeLoadFW")->click();
        dialog.findChild<QPushButton*>("button2")->click();
    });
    // A wrong password is refused and asked again; the right one puts the device back.
    test::whenDialogOpens<utility::CSetDAK>([&](utility::CSetDAK& dialog) {
        auto* edit = dialog.findChild<QLineEdit*>("txbDevicePwd");
        auto* ok = dialog.findChild<QPushButton*>("btnOK");
        edit->setText(QStringLiteral("AAAA-BBBB-CCCC-DDDD"));
        ok->click();
        EXPECT_TRUE(test::waitUntil([&] { return shown("msg04") == 1; }));
        edit->setText(QStringLiteral("GTNE-WHFU-YBSK-QCLM"));
        ok->click();
    });
    page->list()->selectRow(rowOf(*page, kRemote));
    page->onFirmwareUpgrade();
    EXPECT_EQ(shown("msg76"), 1);
    EXPECT_EQ(shown("msg78"), 1);
    EXPECT_EQ(shown("msg79"), 1);
    EXPECT_EQ(keyOf(*context, kRemote), mme::DeriveNmk(kNetworkPassword));
    EXPECT_EQ(context->passwords.find(kRemote), std::optional<std::string>("GTNE-WHFU-YBSK-QCLM"));
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(page->rows().size(), 4u);
}

namespace {
void trigger(utility::CNetworkPage& page, const char* action) {
    page.findChild<QAction*>(action)->trigger();
}
} // namespace

TEST_F(UtilityTest, RestartFromTheDeviceMenuKeepsKeyAndNameAndRescans) {
    makeWindow();
    ASSERT_TRUE(startAndWait());
    auto* page = main->networkPage();
    test::RequestLog log(*context->session.network());
    const std::string name = page->list()->cell(rowOf(*page, kRemote), utility::CNetworkPage::Name);
    const mme::Key key = keyOf(*context, kRemote);
    int scans = 0;
    QObject::connect(main.get(), &utility::CHomePlugDeviceManagerDlg::scanFinished, [&] { ++scans; });
    page->list()->selectRow(rowOf(*page, kRemote));
    // The open device menu holds off the rescan, which would empty the choice it acts on.
    bool heldWhileOpen = false;
    QTimer::singleShot(0, [&] {
        heldWhileOpen = main->isHeld() && !main->scanTimer()->isActive();
        if (QWidget* menu = QApplication::activePopupWidget())
            menu->close();
    });
    Q_EMIT page->list()->customContextMenuRequested(QPoint(5, 5));
    EXPECT_TRUE(heldWhileOpen);
    EXPECT_FALSE(main->isHeld());
    trigger(*page, "actRestart");
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(log.count("restart", kRemote), 1);
    EXPECT_EQ(shown("msg113"), 1);
    EXPECT_EQ(scans, 1);
    ASSERT_GE(rowOf(*page, kRemote), 0);
    EXPECT_EQ(page->list()->cell(rowOf(*page, kRemote), utility::CNetworkPage::Name), name);
    EXPECT_EQ(keyOf(*context, kRemote), key);
}

TEST_F(UtilityTest, RemoveFromNetworkAsksFirstAndTheDeviceDropsOffAfterTheRescan) {
    makeWindow();
    ASSERT_TRUE(startAndWait());
    auto* page = main->networkPage();
    test::RequestLog log(*context->session.network());
    // No at the question: nothing is sent.
    program->messages.queueAnswer(MessageAnswer::No);
    page->list()->selectRow(rowOf(*page, kRemote));
    trigger(*page, "actRemoveFromNetwork");
    EXPECT_FALSE(main->isBusy());
    EXPECT_EQ(shown("msg116"), 1);
    EXPECT_NE(program->messages.texts().back().find(kRemote), std::string::npos);
    EXPECT_EQ(log.count("push-button"), 0);

    program->messages.queueAnswer(MessageAnswer::Yes);
    trigger(*page, "actRemoveFromNetwork");
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(log.count("push-button", kRemote), 1);
    EXPECT_EQ(shown("msg117"), 1);
    EXPECT_EQ(rowOf(*page, kRemote), -1);
    EXPECT_EQ(page->rows().size(), 3u);
}

TEST_F(UtilityTest, DeviceTooltipsNameTheHostsBehindEachAdapter) {
    makeWindow(withFault(kOld, {{"kind", "drop"}, {"message", "hosts"}, {"share", 1}}));
    ASSERT_TRUE(startAndWait());
    auto* page = main->networkPage();
    const bool registry = std::filesystem::exists(app::kIeeeRegistryList);
    const QString local = page->list()->topLevelItem(rowOf(*page, kLocal))->toolTip(utility::CNetworkPage::Quality);
    EXPECT_TRUE(local.startsWith(QStringLiteral("Behind this adapter:\nac:ed:5c:4e:21:07"))) << local.toStdString();
    EXPECT_TRUE(local.contains(QStringLiteral("98:9b:cb:12:34:56")));
    if (registry) {
        EXPECT_TRUE(local.contains(QStringLiteral("ac:ed:5c:4e:21:07 (Intel Corporate)"))) << local.toStdString();
    }
    // A device that does not tell its hosts gets no line.
    EXPECT_TRUE(page->list()->topLevelItem(rowOf(*page, kOld))->toolTip(0).isEmpty());

    utility::NetworkMap* map = main->networkMapPage()->map();
    const auto& stations = map->table().stations;
    for (std::size_t i = 0; i < stations.size(); ++i) {
        const QString tip = map->findChild<QToolButton*>(QStringLiteral("mapDevice%1").arg(i))->toolTip();
        if (stations[i].text() == kRemote) {
            EXPECT_TRUE(tip.contains(QStringLiteral("Behind this adapter:\ndc:a6:32:0a:1b:2c"))) << tip.toStdString();
            if (registry) {
                EXPECT_TRUE(tip.contains(QStringLiteral("(Raspberry Pi Trading Ltd)"))) << tip.toStdString();
            }
        }
        if (stations[i].text() == kOld) {
            EXPECT_FALSE(tip.contains(QStringLiteral("Behind"))) << tip.toStdString();
        }
    }
}

TEST_F(UtilityTest, APublicKeyIsPointedOutUntilThePasswordIsSet) {
    makeWindow();
    ASSERT_TRUE(startAndWait());
    auto* page = main->networkPage();
    auto* note = page->findChild<QLabel*>("lblPublicKey");
    auto* button = page->findChild<QPushButton*>("btnToEncryption");
    EXPECT_TRUE(note->isVisibleTo(page));
    EXPECT_TRUE(button->isVisibleTo(page));
    EXPECT_TRUE(test::unnamedControls(page).empty());
    button->click();
    EXPECT_EQ(main->tabs()->currentWidget(), main->encryptionPage());

    // This computer's device on a password of its own: a private network, and the note goes.
    auto* encryption = main->encryptionPage();
    encryption->list()->setChecked(rowOf(*page, kLocal), true);
    encryption->findChild<QLineEdit*>("textBox_Security_NetworkID")->setText(QString::fromStdString(kNetworkPassword));
    encryption->findChild<QPushButton*>("button_SetSelectedDevices")->click();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(keyOf(*context, kLocal), mme::DeriveNmk(kNetworkPassword));
    EXPECT_FALSE(note->isVisibleTo(page));
    EXPECT_FALSE(button->isVisibleTo(page));
}
