#include "app/device_actions.h"
#include "app/instance_names.h"
#include "app/upgrade_tool_state.h"
#include "gui/page_layout.h"
#include "gui/report_list.h"
#include "mme/upgrade_file.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"
#include "platform/text_field.h"
#include "sim/config_block.h"
#include "sim/firmware_image.h"
#include "sim/network.h"
#include "tests/support/accessibility.h"
#include "tests/support/gui_wait.h"
#include "tests/support/simulated_program.h"
#include "upgrade/device_info.h"
#include "upgrade/dut_list.h"
#include "upgrade/finish.h"
#include "upgrade/upgrade_tool_context.h"
#include "upgrade/upgrading.h"
#include "upgrade/welcome.h"
#include "upgrade/zrq406_upgrade_app.h"
#include "upgrade/zrq406_upgrade_dlg.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace zrq406;
using test::SimulatedProgram;

namespace {

constexpr char kNewImage[] = "3-3-3348-00-2764-CE-0712";

template <class Condition> bool eventually(Condition condition) {
    return zrq406::test::waitUntil(condition, std::chrono::seconds(60));
}

void pressEnter(QWidget* window) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(window, &press);
}

// The upgrade tool's wizard with its five pages on a simulated network, shown without a modal loop.
class Wizard {
public:
    explicit Wizard(const nlohmann::json& network = SimulatedProgram::builtInNetwork(),
                    const std::string& language = "EnglishUpgrade.xml")
        : program(network, language, link::LinkMode::UpgradeTool), context(program.session, state), frame(context),
          welcome(frame, context, program.linkOptions()), list(frame, context), question(frame, context),
          upgrading(frame, context), finish(frame, context) {
        for (CNewWizPage* page : std::initializer_list<CNewWizPage*>{&welcome, &list, &question, &upgrading, &finish})
            frame.addPage(page);
    }
    ~Wizard() { frame.ReleasePages(); }

    // An upgrade file beside the program, taken into the image table.
    void addImage(const std::string& version) {
        const auto bytes = mme::packUpgradeFile(sim::makeFirmwareImage("ZRQPLC1-MAC-" + version, 2048),
                                                sim::makeConfigBlock({}), version);
        std::ofstream(program.path("image.bin"), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        state.images = app::UpgradeImageTable::build({program.path("image.bin")}, "TALVERN ZRQ406");
    }
    void start() {
        frame.initialise();
        frame.show();
    }
    std::string message(const std::string& key) {
        std::string text;
        program.texts.GetStdNodeText({"ZRQ406", "Messages", key, "Text"}, text);
        return text;
    }
    // Whether exactly these buttons of the frame are visible.
    bool shows(std::initializer_list<QPushButton*> visible) {
        for (QPushButton* button : {frame.nextButton(), frame.backButton(), frame.yesButton(), frame.skipButton(),
                                    frame.finishButton(), frame.closeButton(), frame.cancelButton()})
            if (button->isVisible() != (std::find(visible.begin(), visible.end(), button) != visible.end()))
                return false;
        return true;
    }
    template <class Widget> Widget* child(QWidget* page, const char* name) {
        return page->findChild<Widget*>(QString::fromLatin1(name));
    }
    std::string labelText(QWidget* page, const char* name) { return stdText(child<QLabel>(page, name)->text()); }
    // Presses Next on the welcome page and waits until the search has ended.
    void search() {
        frame.nextButton()->click();
        ASSERT_TRUE(eventually([&] { return !welcome.searching() && frame.nextButton()->isEnabled(); }))
            << "the search did not end";
        QApplication::processEvents();
    }
    bool waitForPage(CNewWizPage* page) {
        return eventually([&] { return frame.currentPage() == page; });
    }

    SimulatedProgram program;
    app::UpgradeToolState state;
    UpgradeToolContext context;
    CZRQ406UPGRADEDlg frame;
    CWelcome welcome;
    CDUTlist list;
    CDeviceInfo question;
    CUpgrading upgrading;
    CFinish finish;
};

} // namespace

TEST(UpgradeWizard, TwoDevicesAreUpgradedInTurnAndTheWizardEndsOnFinish) {
    auto network = SimulatedProgram::builtInNetwork();
    network["devices"][0]["firmware"] = "ZRQPLC1-MAC-3-3-3348-00-2400-CE-0511";
    Wizard wizard(network);
    wizard.addImage(kNewImage);
    wizard.start();
    EXPECT_EQ(wizard.labelText(&wizard.welcome, "Catpion"), " Welcome to the TALVERN ZRQ406 Upgrade Tool");
    EXPECT_TRUE(wizard.shows({wizard.frame.nextButton(), wizard.frame.backButton(), wizard.frame.cancelButton()}));
    pressEnter(&wizard.frame); // Enter means Next only on the question page
    EXPECT_FALSE(wizard.welcome.searching());

    wizard.search();
    ASSERT_EQ(wizard.frame.currentPage(), &wizard.list) << ::testing::PrintToString(wizard.program.messages.texts());
    // The local device (older firmware) and 00:03 (older firmware); 00:02 runs the image's build, 00:04 is NA.
    EXPECT_EQ(
        wizard.list.list()->rows(),
        (ListRows{{"Powerline Device", "00:b0:52:5a:00:01", wizard.state.queue.devices()[0].firmware, "Local"},
                  {"Powerline Device", "00:b0:52:5a:00:03", wizard.state.queue.devices()[1].firmware, "Remote"}}));

    for (int device = 0; device < 2; ++device) {
        const std::string mac = device == 0 ? "00:b0:52:5a:00:01" : "00:b0:52:5a:00:03";
        if (device == 0)
            wizard.frame.nextButton()->click();
        ASSERT_EQ(wizard.frame.currentPage(), &wizard.question);
        EXPECT_TRUE(wizard.shows({wizard.frame.yesButton(), wizard.frame.skipButton(), wizard.frame.closeButton()}));
        EXPECT_EQ(wizard.labelText(&wizard.question, "Mac"), mac);

        wizard.frame.yesButton()->click();
        ASSERT_EQ(wizard.frame.currentPage(), &wizard.upgrading);
        // Locked: no button, and neither Escape nor the window's close button ends the wizard.
        EXPECT_TRUE(wizard.shows({}));
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&wizard.frame, &escape);
        wizard.frame.close();
        EXPECT_TRUE(wizard.frame.isVisible());
        EXPECT_EQ(wizard.state.queue.size(), 2 - device);

        ASSERT_TRUE(wizard.waitForPage(&wizard.finish)) << "the upgrade of " << mac << " did not end";
        EXPECT_TRUE(wizard.state.lastOutcome.ok) << wizard.state.lastOutcome.detail;
        const std::string result = wizard.labelText(&wizard.finish, "Lable");
        EXPECT_NE(result.find("Powerline Device (" + mac + ") has ended"), std::string::npos) << result;
        EXPECT_EQ(wizard.child<QProgressBar>(&wizard.upgrading, "Progress")->value(), 100);
        EXPECT_TRUE(wizard.child<QLabel>(&wizard.upgrading, "Done")->isEnabled());
        EXPECT_EQ(wizard.child<QLabel>(&wizard.finish, "Backup")->isVisible(),
                  !wizard.state.lastOutcome.backup.empty());
        const auto snapshot = wizard.program.session.network()->device(MacAddress::fromText(mac));
        ASSERT_TRUE(snapshot);
        EXPECT_NE(snapshot->firmware.find("-3-3-3348-00-2764-CE-0712"), std::string::npos) << snapshot->firmware;
        if (device == 0) {
            EXPECT_TRUE(wizard.shows({wizard.frame.nextButton(), wizard.frame.cancelButton()}));
            wizard.frame.nextButton()->click();
        }
    }
    EXPECT_TRUE(wizard.shows({wizard.frame.finishButton()}));
    EXPECT_TRUE(wizard.state.queue.empty());
    EXPECT_EQ(wizard.program.messages.texts(),
              (std::vector<std::string>{wizard.message("msg09"), wizard.message("msg09")}));
    wizard.frame.finishButton()->click();
    EXPECT_EQ(wizard.frame.result(), QDialog::Accepted);
}

TEST(UpgradeWizard, EachStepIsShownAsItStartsAndTheFirmwareStepNamesTheImagesVersion) {
    Wizard wizard; // only 00:03 runs older firmware
    wizard.addImage(kNewImage);
    // The page's step as each request reaches the device, in order.
    std::mutex mutex;
    std::vector<std::pair<std::string, int>> seen;
    ASSERT_TRUE(wizard.program.open());
    wizard.program.session.network()->setRequestLog([&](const std::string& line) {
        std::lock_guard lock(mutex);
        for (const char* request : {"write-module", "commit", "read-module"})
            if (line.find(std::string(" ") + request + " ") != std::string::npos)
                seen.emplace_back(request, wizard.state.progress.step.load());
    });
    wizard.start();
    wizard.search();
    wizard.frame.nextButton()->click();
    wizard.frame.yesButton()->click();
    ASSERT_TRUE(wizard.waitForPage(&wizard.finish));
    wizard.program.session.network()->setRequestLog(nullptr);
    ASSERT_TRUE(wizard.state.lastOutcome.ok) << wizard.state.lastOutcome.detail;

    // The firmware step is marked before its first block; the restart step while the device restarts, before the
    // configuration block is read back from it.
    std::lock_guard lock(mutex);
    const auto firstWrite = std::find_if(seen.begin(), seen.end(), [](auto& s) { return s.first == "write-module"; });
    ASSERT_NE(firstWrite, seen.end());
    EXPECT_EQ(firstWrite->second, 1);
    const auto commit = std::find_if(seen.begin(), seen.end(), [](auto& s) { return s.first == "commit"; });
    ASSERT_NE(commit, seen.end());
    EXPECT_EQ(commit->second, 2);
    const auto readBack = std::find_if(commit, seen.end(), [](auto& s) { return s.first == "read-module"; });
    ASSERT_NE(readBack, seen.end()) << ::testing::PrintToString(seen);
    EXPECT_EQ(readBack->second, 3);
    EXPECT_EQ(wizard.labelText(&wizard.upgrading, "UpFirm"), std::string("Upgrade firmware to ") + kNewImage + "...");
    EXPECT_EQ(wizard.child<QProgressBar>(&wizard.upgrading, "Progress")->value(), 100);
}

TEST(UpgradeWizard, OneDeviceCannotBeSkippedAndItsFailedUpgradeIsReportedAsFailed) {
    Wizard wizard; // only 00:03 runs older firmware; no upgrade file anywhere
    wizard.start();
    wizard.search();
    ASSERT_EQ(wizard.frame.currentPage(), &wizard.list);
    ASSERT_EQ(wizard.list.list()->rows().size(), 1u);
    pressEnter(&wizard.frame);
    EXPECT_EQ(wizard.frame.currentPage(), &wizard.list);

    wizard.frame.nextButton()->click();
    ASSERT_EQ(wizard.frame.currentPage(), &wizard.question);
    wizard.frame.skipButton()->click();
    EXPECT_EQ(wizard.program.messages.texts(), std::vector<std::string>{wizard.message("msg11")});
    EXPECT_FALSE(wizard.frame.skipButton()->isEnabled());
    EXPECT_EQ(wizard.state.queue.size(), 1);
    EXPECT_EQ(wizard.frame.currentPage(), &wizard.question);

    wizard.program.messages.clear();
    pressEnter(&wizard.frame); // Yes
    ASSERT_EQ(wizard.frame.currentPage(), &wizard.upgrading);
    ASSERT_TRUE(wizard.waitForPage(&wizard.finish));
    EXPECT_EQ(wizard.program.messages.texts(),
              std::vector<std::string>{wizard.message("msg08") + "\n\n" + wizard.message("msg06")});
    const std::string result = wizard.labelText(&wizard.finish, "Lable");
    EXPECT_EQ(result, "The upgrade of Powerline Device (00:b0:52:5a:00:03) failed. Press Finish to close the "
                      "Upgrade Tool.");
    // The step labels show where it stopped: at the first step, before anything was written.
    EXPECT_EQ(wizard.labelText(&wizard.upgrading, "UpSoft"), "->Update softloader");
    EXPECT_FALSE(wizard.child<QLabel>(&wizard.upgrading, "UpFirm")->isEnabled());
    EXPECT_FALSE(wizard.child<QLabel>(&wizard.upgrading, "Done")->isEnabled());
    EXPECT_TRUE(wizard.shows({wizard.frame.finishButton()}));
}

TEST(UpgradeWizard, ASearchThatFindsNothingSaysSoAndNextSearchesAfresh) {
    auto network = SimulatedProgram::builtInNetwork();
    network["devices"][2]["firmware"] = "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712";
    Wizard wizard(network);
    wizard.start();
    // Next locks Cancel before the search starts: an Escape at once does not end the wizard under the search.
    wizard.frame.nextButton()->click();
    EXPECT_FALSE(wizard.frame.cancelButton()->isEnabled());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&wizard.frame, &escape);
    EXPECT_TRUE(wizard.frame.isVisible());
    ASSERT_TRUE(eventually([&] { return !wizard.welcome.searching() && wizard.frame.nextButton()->isEnabled(); }));
    EXPECT_EQ(wizard.frame.currentPage(), &wizard.welcome);
    wizard.search();
    EXPECT_EQ(wizard.frame.currentPage(), &wizard.welcome);
    EXPECT_EQ(wizard.program.messages.texts(),
              (std::vector<std::string>{wizard.message("msg05"), wizard.message("msg05")}));
    EXPECT_TRUE(wizard.frame.cancelButton()->isEnabled());
    EXPECT_TRUE(wizard.welcome.isEnabled());
}

TEST(UpgradeWizard, LanguageTextsAndDeviceNamesAreShownAsTextNeverAsFormats) {
    // A language file whose title and device heading hold what a format call would read as conversions.
    std::stringstream original;
    original << std::ifstream(paths::dataFile("EnglishUpgrade.xml")).rdbuf();
    std::string xml = original.str();
    auto replace = [&](const std::string& from, const std::string& to) {
        ASSERT_NE(xml.find(from), std::string::npos) << from;
        xml.replace(xml.find(from), from.size(), to);
    };
    replace("<Text>TALVERN ZRQ406 Upgrade Tool</Text>", "<Text>Tool %n %s 100%</Text>");
    replace("<Text>Device information</Text>", "<Text>Device 1: 100%% checked, %d %s</Text>");
    const auto language =
        std::filesystem::temp_directory_path() / ("zrq406-formats-" + std::to_string(getpid()) + "-EnglishUpgrade.xml");
    std::ofstream(language) << xml;
    Wizard wizard(SimulatedProgram::builtInNetwork(), language.string());
    std::filesystem::remove(language);
    // The name the device has in the history.
    DeviceRegistry& registry = wizard.program.session.registry();
    copyToField(registry.historyTable().records[0].mac, "00:b0:52:5a:00:03");
    copyToField(registry.historyTable().records[0].name, "%s %n Kitchen");
    ASSERT_TRUE(registry.SaveHistory(1));

    wizard.start();
    EXPECT_EQ(wizard.labelText(&wizard.welcome, "Catpion"), " Welcome to the Tool %n %s 100%");
    wizard.search();
    ASSERT_EQ(wizard.frame.currentPage(), &wizard.list);
    EXPECT_EQ(wizard.list.list()->cell(0, 0), "%s %n Kitchen");
    wizard.frame.nextButton()->click();
    EXPECT_EQ(wizard.labelText(&wizard.question, "DeviceIndex"), "Device 1: 100% checked, %d %s");
    wizard.frame.yesButton()->click();
    ASSERT_TRUE(wizard.waitForPage(&wizard.finish));
    EXPECT_EQ(wizard.labelText(&wizard.finish, "Lable"),
              "The upgrade of %s %n Kitchen (00:b0:52:5a:00:03) failed. Press Finish to close the Upgrade Tool.");
}

TEST(UpgradeWizard, ADeviceGoneWhenYesIsPressedIsNotUpgraded) {
    auto network = SimulatedProgram::builtInNetwork();
    // A factory reset keeps the device silent far longer than the test runs.
    network["settings"]["restartMs"]["factoryReset"] = 600000;
    Wizard wizard(network);
    wizard.start();
    wizard.search();
    wizard.frame.nextButton()->click();
    ASSERT_EQ(wizard.frame.currentPage(), &wizard.question);
    ASSERT_TRUE(app::resetDevice(wizard.program.session, MacAddress::fromText("00:b0:52:5a:00:03")));

    wizard.frame.yesButton()->click();
    EXPECT_EQ(wizard.program.messages.texts(), std::vector<std::string>{wizard.message("msg10")});
    EXPECT_EQ(wizard.frame.currentPage(), &wizard.question);
    EXPECT_EQ(wizard.state.queue.size(), 1);
    // Close ends the wizard from the question.
    wizard.frame.closeButton()->click();
    EXPECT_EQ(wizard.frame.result(), QDialog::Rejected);
    EXPECT_TRUE(wizard.state.queue.empty());
}

TEST(UpgradeToolStart, RefusedBesideTheUtilityUnlessItStartedTheToolAndWhenAlreadyRunning) {
    // German, beside a utility of any language.
    SimulatedProgram program({}, "GermanUpgrade.xml", link::LinkMode::UpgradeTool); // its own lock folder
    auto message = [&](const char* key) {
        std::string text;
        program.texts.GetStdNodeText({"ZRQ406", "Messages", key, "Text"}, text);
        return text;
    };
    InstanceLock utility;
    ASSERT_TRUE(utility.acquire(app::kUtilityInstance));
    InstanceLock own;
    EXPECT_FALSE(CZRQ406UPGRADEApp::singleInstanceCheck(program.texts, program.messages, own));
    EXPECT_EQ(program.messages.texts(), std::vector<std::string>{message("Parentmsg01")});

    // Started by the utility, which holds "BothRun" meanwhile.
    InstanceLock bothRun;
    ASSERT_TRUE(bothRun.acquire(app::kBothRunInstance));
    EXPECT_TRUE(CZRQ406UPGRADEApp::singleInstanceCheck(program.texts, program.messages, own));
    EXPECT_TRUE(own.held());

    program.messages.clear();
    InstanceLock second;
    EXPECT_FALSE(CZRQ406UPGRADEApp::singleInstanceCheck(program.texts, program.messages, second));
    EXPECT_EQ(program.messages.texts(), std::vector<std::string>{message("msg01")});
}

// Screen readers and UI automation name every control of every page by its text or caption, in both languages.
TEST(UpgradeWizard, EveryControlHasAnAccessibleName) {
    for (const char* language : {"EnglishUpgrade.xml", "GermanUpgrade.xml"}) {
        Wizard wizard(SimulatedProgram::builtInNetwork(), language);
        wizard.start();
        // Every page lays out its controls, without being entered.
        for (CNewWizPage* page :
             std::initializer_list<CNewWizPage*>{&wizard.list, &wizard.question, &wizard.upgrading, &wizard.finish})
            ASSERT_TRUE(page->InitPage());
        EXPECT_EQ(zrq406::test::unnamedControls(&wizard.frame), std::vector<std::string>()) << language;
    }
}
