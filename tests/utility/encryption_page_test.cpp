#include "gui/report_list.h"
#include "platform/text_field.h"
#include "registry/history_file.h"
#include "request_log.h"
#include "tests/support/accessibility.h"
#include "utility/add_device_dialog.h"
#include "utility/encryption_page.h"
#include "utility/network_page.h"
#include "utility/password_dialog.h"
#include "utility_fixture.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace zrq406;
using utility::CAddDeviceDialog;
using utility::CEncryptionPage;
using zrq406::test::UtilityTest;
using zrq406::test::withFault;

namespace {
const std::string kLocal = "00:b0:52:5a:00:01";
const std::string kRemote = "00:b0:52:5a:00:02";
const std::string kRemotePassword = "GTNE-WHFU-YBSK-QCLM";
const std::string kNewcomer = "00:b0:52:5a:00:07";

// The built-in network with one more device on a key of its own, its pair button pressed or not.
nlohmann::json networkWithNewcomer(bool pairing) {
    auto network = test::SimulatedProgram::builtInNetwork();
    network["devices"].push_back(
        {{"mac", kNewcomer}, {"tei", 7}, {"networkPassword", "NotYetPaired"}, {"pairing", pairing}});
    return network;
}

void click(QWidget& dialog, const char* button) {
    auto* found = dialog.findChild<QPushButton*>(button);
    ASSERT_NE(found, nullptr) << button;
    ASSERT_TRUE(found->isVisible() && found->isEnabled()) << button;
    found->click();
}

int rowOf(CEncryptionPage& page, const std::string& mac) {
    return test::rowWithMac(page.rows(), CEncryptionPage::Mac, mac);
}

class EncryptionPageTest : public UtilityTest {
protected:
    void start(const nlohmann::json& network = test::SimulatedProgram::builtInNetwork()) {
        makeWindow(network);
        ASSERT_TRUE(startAndWait());
        page = main->encryptionPage();
        log = std::make_unique<test::RequestLog>(*context->session.network());
        program->messages.clear();
    }
    void setSelected() {
        page->findChild<QPushButton*>("button_SetSelectedDevices")->click();
        ASSERT_TRUE(waitIdle());
    }
    // The last message whose text starts with the message of `key`.
    std::string lastText(const std::string& key) {
        const std::string start = context->message(key).substr(0, 20);
        std::string found;
        for (const auto& text : program->messages.texts())
            if (text.rfind(start, 0) == 0)
                found = text;
        return found;
    }
    void TearDown() override {
        log.reset();
        UtilityTest::TearDown();
    }

    CEncryptionPage* page = nullptr;
    std::unique_ptr<test::RequestLog> log;
};
} // namespace

TEST_F(EncryptionPageTest, OnlyTheLocalRowSendsOneLocalKeyRequest) {
    start();
    page->list()->setChecked(0, true);
    setSelected();
    EXPECT_EQ(log->count("set-key"), 1);
    // The question lists the local device alone; success, and the network is found again with the boxes cleared.
    const std::string question = program->messages.texts().at(0);
    EXPECT_NE(question.find(kLocal), std::string::npos);
    EXPECT_EQ(question.find(kRemote), std::string::npos);
    EXPECT_EQ(shown("msg37"), 1);
    EXPECT_EQ(shown("msg24"), 0);
    EXPECT_FALSE(page->list()->isChecked(0));
}

TEST_F(EncryptionPageTest, ARemoteRowWithoutPasswordIsUncheckedAndNothingElseHappens) {
    start();
    const int remote = rowOf(*page, kRemote);
    page->list()->setChecked(remote, true);
    setSelected();
    EXPECT_EQ(program->messages.texts(), std::vector<std::string>{context->message("msg34")});
    EXPECT_FALSE(page->list()->isChecked(remote));
    EXPECT_EQ(log->count("set-key"), 0);

    // With the local row also ticked, OK keys only the local device.
    page->list()->setChecked(remote, true);
    page->list()->setChecked(0, true);
    setSelected();
    EXPECT_EQ(shown("msg34"), 2);
    EXPECT_EQ(log->count("set-key"), 1);
    EXPECT_EQ(shown("msg37"), 1);
}

TEST_F(EncryptionPageTest, AWrongDevicePasswordKeysNoDeviceAndIsNamed) {
    start();
    const int remote = rowOf(*page, kRemote);
    page->list()->setCell(remote, CEncryptionPage::Password, "AAAA-BBBB-CCCC-DDDD");
    page->list()->setChecked(remote, true);
    page->list()->setChecked(0, true);
    setSelected();
    // The proof alone was sent; the local device was not keyed, so this computer still reaches the remote one.
    EXPECT_EQ(log->count("set-key"), 1);
    EXPECT_EQ(shown("msg37"), 0);
    const std::string outcome = lastText("msg66");
    EXPECT_NE(outcome.find(kRemote + " (" + page->list()->cell(remote, CEncryptionPage::Name) +
                           "): " + context->message("msg69")),
              std::string::npos);
    EXPECT_EQ(outcome.find(kLocal), std::string::npos);
    EXPECT_EQ(page->rows().size(), 4u);
}

TEST_F(EncryptionPageTest, ABadNetworkPasswordSendsNothing) {
    start();
    page->list()->setChecked(0, true);
    page->networkPassword()->setText(QStringLiteral("short"));
    setSelected();
    EXPECT_EQ(log->count("set-key"), 0);
    ASSERT_EQ(program->messages.texts().size(), 1u);
    EXPECT_NE(program->messages.texts()[0].find(context->message("msg22")), std::string::npos);
    // "Use default (Public Network)" puts the public default back.
    page->onUseDefault();
    EXPECT_EQ(page->networkPassword()->text(), QStringLiteral("HomePlugAV"));
}

TEST_F(EncryptionPageTest, TheLocalDeviceNotFoundAfterTheKeyChangeShowsMsg24) {
    // The local device stops answering its software version query after the start-up scan and the two that confirm
    // it before the key goes to it.
    start(withFault(kLocal, {{"kind", "drop"}, {"message", "software-version"}, {"nth", 4}}));
    page->list()->setChecked(0, true);
    setSelected();
    EXPECT_EQ(shown("msg37"), 1);
    EXPECT_EQ(shown("msg24"), 1);
    EXPECT_TRUE(page->rows().empty());
}

TEST_F(EncryptionPageTest, EnterPasswordNeedsARemoteRow) {
    start();
    page->findChild<QPushButton*>("btnEnterPWD")->click();
    page->list()->selectRow(0);
    page->findChild<QPushButton*>("btnEnterPWD")->click();
    EXPECT_EQ(shown("msg53"), 1);
    EXPECT_EQ(shown("msg54"), 1);
}

TEST_F(EncryptionPageTest, ThePasswordIsProvedKeptAcrossScansAndSaved) {
    start();
    const int remote = rowOf(*page, kRemote);
    page->list()->selectRow(remote);
    QString nameShown;
    test::whenDialogOpens<utility::CSetDAK>([&](utility::CSetDAK& dialog) {
        auto* edit = dialog.findChild<QLineEdit*>("txbDevicePwd");
        auto* ok = dialog.findChild<QPushButton*>("btnOK");
        nameShown = dialog.findChild<QLabel*>("lblDeviceName")->text();
        // Typed in lower case, it is shown in capitals with the cursor where it was.
        QTest::keyClicks(edit, "gtne");
        edit->setCursorPosition(2);
        QTest::keyClicks(edit, "x");
        EXPECT_EQ(edit->text(), QStringLiteral("GTXNE"));
        EXPECT_EQ(edit->cursorPosition(), 3);
        // Enter neither checks nor closes.
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_TRUE(dialog.isVisible());
        // The wrong form, then a wrong password: the dialog stays open each time.
        ok->click();
        edit->setText(QStringLiteral("AAAA-BBBB-CCCC-DDDD"));
        ok->click();
        EXPECT_FALSE(ok->isEnabled());
        EXPECT_TRUE(test::waitUntil([&] { return shown("msg04") == 1; }));
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(ok->isEnabled());
        // A password set by a screen reader or an automation tool is taken in capitals as well.
        QAccessible::queryAccessibleInterface(edit)->setText(QAccessible::Value,
                                                             QString::fromStdString(kRemotePassword).toLower());
        ok->click();
        if (shown("msg57") > 1) // refused as malformed, the dialog would stay open
            dialog.findChild<QPushButton*>("btnCancel")->click();
    });
    page->findChild<QPushButton*>("btnEnterPWD")->click();
    EXPECT_EQ(shown("msg57"), 1);
    EXPECT_EQ(nameShown.toStdString(), page->list()->cell(remote, CEncryptionPage::Name) + "        [" + kRemote + "]");
    EXPECT_EQ(page->list()->cell(remote, CEncryptionPage::Password), kRemotePassword);
    // The proof left the device on its network.
    EXPECT_EQ(context->session.network()->device(MacAddress::fromText(kRemote))->nmk, mme::kDefaultNmk);

    main->startManualScan();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(page->list()->cell(rowOf(*page, kRemote), CEncryptionPage::Password), kRemotePassword);
    main->findChild<QPushButton*>("CloseButton")->click();
    HistoryTable history{};
    const auto loaded = HistoryFile(program->historyPath()).load(history);
    bool saved = false;
    for (int i = 0; i < loaded.loaded; ++i)
        saved |=
            fieldText(history.records[i].mac) == kRemote && fieldText(history.records[i].password) == kRemotePassword;
    EXPECT_TRUE(saved);
}

// A screen reader tells whether each device will be keyed, and which device a tick stands for.
TEST_F(EncryptionPageTest, EachTickTellsItsStateAndNamesItsDevice) {
    start();
    // The tree lays out its rows, which its accessible cells are made from, once it is shown.
    main->tabs()->setCurrentWidget(page);
    const int remote = rowOf(*page, kRemote);
    QAccessibleTableInterface* table = QAccessible::queryAccessibleInterface(page->list())->tableInterface();
    ASSERT_NE(table, nullptr);
    const auto tick = [&] { return table->cellAt(remote, 0); };
    EXPECT_TRUE(tick()->state().checkable);
    EXPECT_FALSE(tick()->state().checked);
    const std::string name = tick()->text(QAccessible::Name).toStdString();
    EXPECT_NE(name.find(kRemote), std::string::npos) << name;
    EXPECT_NE(name.find(page->list()->cell(remote, CEncryptionPage::Name)), std::string::npos) << name;
    page->list()->setChecked(remote, true);
    EXPECT_TRUE(tick()->state().checked);
    page->renameDevice(kRemote, "Attic");
    EXPECT_NE(tick()->text(QAccessible::Name).toStdString().find("Attic " + kRemote), std::string::npos);
}

// A screen reader user ticks a device as a mouse user does: the tick is a checkable object whose toggle action
// ticks and unticks it, and the page's list follows; the other cells stay as in any item view.
TEST_F(EncryptionPageTest, ATickIsTickedAndUntickedByItsToggleAction) {
    start();
    main->tabs()->setCurrentWidget(page);
    const int remote = rowOf(*page, kRemote);
    QAccessibleTableInterface* table = QAccessible::queryAccessibleInterface(page->list())->tableInterface();
    ASSERT_NE(table, nullptr);
    const auto tick = [&] { return table->cellAt(remote, CEncryptionPage::Check); };
    ASSERT_NE(tick(), nullptr);
    EXPECT_TRUE(tick()->state().checkable);
    EXPECT_FALSE(tick()->state().checked);
    ASSERT_NE(tick()->actionInterface(), nullptr);
    EXPECT_TRUE(tick()->actionInterface()->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    const auto toggle = [&](QAccessibleInterface* cell) {
        cell->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    };
    toggle(tick());
    EXPECT_TRUE(tick()->state().checked);
    EXPECT_EQ(page->rows()[static_cast<std::size_t>(remote)][CEncryptionPage::Check], "1");
    EXPECT_EQ(page->list()->selectedRow(), -1);
    toggle(tick());
    EXPECT_FALSE(tick()->state().checked);
    EXPECT_EQ(page->rows()[static_cast<std::size_t>(remote)][CEncryptionPage::Check], "");
    // A locked page takes no tick, as it takes no click.
    page->setActionsEnabled(false);
    EXPECT_TRUE(tick()->state().disabled);
    toggle(tick());
    EXPECT_FALSE(page->list()->isChecked(remote));
    page->setActionsEnabled(true);

    // Another cell's toggle action selects its row, as in any list.
    toggle(table->cellAt(remote, CEncryptionPage::Mac));
    EXPECT_EQ(page->list()->selectedRow(), remote);
    EXPECT_FALSE(page->list()->isChecked(remote));
}

TEST_F(EncryptionPageTest, NoKeyIsSentWhenTheDevicesKeyCannotBeRead) {
    start(withFault(kRemote, {{"kind", "fail"}, {"message", "read-module"}, {"share", 1}}));
    page->list()->selectRow(rowOf(*page, kRemote));
    test::whenDialogOpens<utility::CSetDAK>([&](utility::CSetDAK& dialog) {
        dialog.findChild<QLineEdit*>("txbDevicePwd")->setText(QString::fromStdString(kRemotePassword));
        dialog.findChild<QPushButton*>("btnOK")->click();
        EXPECT_TRUE(test::waitUntil([&] { return shown("msg63") == 1; }));
        dialog.findChild<QPushButton*>("btnCancel")->click();
    });
    page->findChild<QPushButton*>("btnEnterPWD")->click();
    EXPECT_EQ(log->count("set-key"), 0);
    EXPECT_EQ(shown("msg04"), 0);
    // Cancelled: the password column and the table stay as they were.
    EXPECT_EQ(page->list()->cell(rowOf(*page, kRemote), CEncryptionPage::Password), "");
    EXPECT_EQ(context->passwords.count(), 0);
    // The proof held the busy state; the window is usable again and rescans on its timer.
    EXPECT_FALSE(main->isBusy());
    EXPECT_TRUE(main->scanTimer()->isActive());
}

TEST_F(UtilityTest, DevicePasswordDialogNamesEveryControl) {
    for (const char* language : {"English.xml", "German.xml"}) {
        makeWindow(test::SimulatedProgram::builtInNetwork(), language);
        utility::CSetDAK dialog(*context, *main, "Kitchen", kRemote);
        EXPECT_EQ(test::unnamedControls(&dialog), std::vector<std::string>()) << language;
    }
}

// The assistant clicked through to a device waiting with its pair button pressed: the search counts down, the device
// is named and every page shows it, and the name given to it is kept in the history.
TEST_F(EncryptionPageTest, TheAddDeviceAssistantPairsANewDeviceAndKeepsTheNameGivenToIt) {
    start(networkWithNewcomer(true));
    main->tabs()->setCurrentWidget(page);
    test::whenDialogOpens<CAddDeviceDialog>([&](CAddDeviceDialog& dialog) {
        EXPECT_EQ(test::unnamedControls(&dialog), std::vector<std::string>());
        click(dialog, "btnNext");
        click(dialog, "btnNext");
        EXPECT_EQ(dialog.step(), CAddDeviceDialog::ClickPair);
        click(dialog, "btnPair");
        // The search holds the window as its device operation.
        EXPECT_TRUE(main->isBusy());
        EXPECT_TRUE(test::waitUntil([&] { return dialog.step() != CAddDeviceDialog::Searching; }));
        ASSERT_EQ(dialog.step(), CAddDeviceDialog::Found);
        EXPECT_LT(dialog.findChild<QProgressBar*>("Countdown")->value(), 120);
        EXPECT_EQ(dialog.foundMac(), kNewcomer);
        EXPECT_FALSE(dialog.foundName().empty());
        const std::string found = dialog.findChild<QLabel*>("Found")->text().toStdString();
        EXPECT_NE(found.find(kNewcomer), std::string::npos) << found;
        EXPECT_NE(found.find(dialog.foundName()), std::string::npos) << found;
        // The window has scanned again: the pages list the new device already.
        EXPECT_GE(rowOf(*page, kNewcomer), 0);
        EXPECT_GE(test::rowWithMac(main->networkPage()->rows(), utility::CNetworkPage::Mac, kNewcomer), 0);
        auto* name = dialog.findChild<QLineEdit*>("txtName");
        EXPECT_EQ(name->text().toStdString(), dialog.foundName());
        name->setText(QStringLiteral("Garage"));
        click(dialog, "btnFinish");
    });
    page->findChild<QPushButton*>("btnAddDevice")->click();
    EXPECT_EQ(context->session.network()->device(MacAddress::fromText(kNewcomer))->nmk,
              context->session.network()->device(MacAddress::fromText(kLocal))->nmk);
    EXPECT_EQ(page->list()->cell(rowOf(*page, kNewcomer), CEncryptionPage::Name), "Garage");
    EXPECT_FALSE(main->isBusy());
    EXPECT_TRUE(main->scanTimer()->isActive());

    // Written at once, and kept across the next scan as a rename on the network page is.
    const auto savedName = [&] {
        HistoryTable history{};
        const auto loaded = HistoryFile(program->historyPath()).load(history);
        for (int i = 0; i < loaded.loaded; ++i)
            if (fieldText(history.records[i].mac) == kNewcomer)
                return fieldText(history.records[i].name);
        return std::string();
    };
    EXPECT_EQ(savedName(), "Garage");
    main->startManualScan();
    ASSERT_TRUE(waitIdle());
    const auto rows = main->networkPage()->rows();
    const int row = test::rowWithMac(rows, utility::CNetworkPage::Mac, kNewcomer);
    ASSERT_GE(row, 0);
    EXPECT_EQ(rows[static_cast<std::size_t>(row)][utility::CNetworkPage::Name], "Garage");
    main->findChild<QPushButton*>("CloseButton")->click();
    EXPECT_EQ(savedName(), "Garage");
}

// No device joins within the two minutes: the assistant says what to try; Try Again goes back to the button, and
// Cancel stops a search under way and closes once it has ended.
TEST_F(EncryptionPageTest, TheAddDeviceAssistantSaysWhatToTryWhenNoDeviceJoinsAndCancelStopsTheSearch) {
    start(networkWithNewcomer(false));
    bool closedBeforeTheEnd = false;
    test::whenDialogOpens<CAddDeviceDialog>([&](CAddDeviceDialog& dialog) {
        click(dialog, "btnNext");
        click(dialog, "btnNext");
        click(dialog, "btnPair");
        EXPECT_TRUE(test::waitUntil([&] { return dialog.step() != CAddDeviceDialog::Searching; }));
        ASSERT_EQ(dialog.step(), CAddDeviceDialog::NotFound);
        EXPECT_EQ(dialog.findChild<QProgressBar*>("Countdown")->value(), 0);
        const std::string advice = dialog.findChild<QLabel*>("NotFound")->text().toStdString();
        for (const char* field : {"Text", "Text2", "Text3", "Text4"})
            EXPECT_NE(advice.find(context->texts.LoadPageCaption("ZRQ406", "AddDevice", "NotFound", field)),
                      std::string::npos)
                << field;
        EXPECT_FALSE(main->isBusy());

        click(dialog, "btnTryAgain");
        EXPECT_EQ(dialog.step(), CAddDeviceDialog::PressButton);
        click(dialog, "btnNext");
        click(dialog, "btnPair");
        const auto pressed = std::chrono::steady_clock::now();
        click(dialog, "btnCancel");
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(test::waitUntil([&] { return !dialog.isVisible(); }));
        // Well within the 2.4 s the two minutes take here.
        closedBeforeTheEnd = std::chrono::steady_clock::now() - pressed < std::chrono::milliseconds(1500);
    });
    page->findChild<QPushButton*>("btnAddDevice")->click();
    EXPECT_TRUE(closedBeforeTheEnd);
    EXPECT_EQ(log->count("push-button"), 2);
    EXPECT_EQ(rowOf(*page, kNewcomer), -1);
    EXPECT_FALSE(main->isBusy());
    EXPECT_TRUE(main->scanTimer()->isActive());
}
