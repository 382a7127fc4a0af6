#include "gui/report_list.h"
#include "mme/qos_settings.h"
#include "sim/network.h"
#include "utility/qos_page.h"
#include "utility_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace zrq406;
using utility::CQoSPage;
using zrq406::test::UtilityTest;

namespace {
const std::string kRemote = "00:b0:52:5a:00:02";
const std::string kOld = "00:b0:52:5a:00:03";

class QoSPageTest : public UtilityTest {
protected:
    void start(const nlohmann::json& network = test::SimulatedProgram::builtInNetwork()) {
        makeWindow(network);
        ASSERT_TRUE(startAndWait());
        page = main->qosPage();
        program->messages.clear();
    }
    // Chooses a device as the user does, and waits for its settings.
    void choose(const std::string& mac) {
        const int index = page->deviceBox()->findData(QString::fromStdString(mac));
        ASSERT_GE(index, 0);
        page->deviceBox()->setCurrentIndex(index);
        Q_EMIT page->deviceBox()->activated(index);
        ASSERT_TRUE(waitIdle());
    }
    // Types into the open editor of a list's current entry and presses Enter; waits until the entry is checked.
    void enter(ReportList* list, const QString& key) {
        auto* editor = qobject_cast<QLineEdit*>(list->indexWidget(list->currentIndex()));
        ASSERT_NE(editor, nullptr);
        int checked = 0;
        const auto connection = QObject::connect(page, &CQoSPage::entryChecked, [&] { ++checked; });
        editor->setText(key);
        QTest::keyClick(editor, Qt::Key_Return);
        EXPECT_TRUE(test::waitUntil([&] { return checked > 0; }));
        QObject::disconnect(connection);
    }
    // Adds an entry and types its address or port.
    void type(ReportList* list, const char* key) {
        page->addEntry(list);
        enter(list, QString::fromUtf8(key));
    }
    std::vector<std::uint8_t> block(const std::string& mac) {
        return context->session.network()->device(MacAddress::fromText(mac))->configBlock;
    }
    QComboBox* box(const char* name) { return page->findChild<QComboBox*>(name); }

    CQoSPage* page = nullptr;
};
} // namespace

TEST_F(QoSPageTest, WrittenSettingsChangeOnlyTheirBytesAndReadBack) {
    start();
    EXPECT_FALSE(page->findChild<QPushButton*>("button_QoS_Apply")->isEnabled());
    choose(kRemote);
    EXPECT_EQ(page->settings(), mme::QosSettings::defaults());
    const auto before = block(kRemote);

    page->findChild<QCheckBox*>("VLANOverride")->setChecked(true);
    box("VLAN5Priority")->setCurrentIndex(static_cast<int>(mme::QosPriority::Cap3));
    box("TOS0Priority")->setCurrentIndex(static_cast<int>(mme::QosPriority::Cap0));
    type(page->macList(), "00-11-22-AA-BB-CC");
    type(page->portList(), "5060");
    EXPECT_EQ(page->macList()->cell(0, CQoSPage::Key), "00:11:22:aa:bb:cc");
    EXPECT_EQ(page->summary()->topLevelItemCount(), 2);
    const mme::QosSettings wanted = page->settings();
    page->findChild<QPushButton*>("button_QoS_Apply")->click();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(shown("msg40"), 1);

    const auto after = block(kRemote);
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
        const bool checksum = i >= mme::cfg::kChecksum && i < mme::cfg::kChecksum + 4;
        const bool settings = i >= mme::cfg::kQos && i < mme::cfg::kQos + mme::cfg::kQosWidth;
        if (!checksum && !settings) {
            ASSERT_EQ(after[i], before[i]) << "byte " << i;
        }
    }
    const auto stored = mme::decodeQosArea(std::span(after).subspan(mme::cfg::kQos, mme::cfg::kQosWidth));
    EXPECT_EQ(stored.state, mme::QosAreaState::Valid);
    EXPECT_EQ(stored.settings, wanted);
    EXPECT_EQ(stored.settings.vlanMap[5], mme::QosPriority::Cap3);

    // Another device, then back: the controls show what the device holds.
    choose(kOld);
    EXPECT_EQ(page->settings(), mme::QosSettings::defaults());
    choose(kRemote);
    EXPECT_EQ(page->settings(), wanted);
}

TEST_F(QoSPageTest, MapPrioritiesFollowTheirCheckBoxAlsoAfterTheBusyState) {
    start();
    EXPECT_FALSE(box("VLAN0Priority")->isEnabled());
    choose(kRemote);
    auto* vlan = page->findChild<QCheckBox*>("VLANOverride");
    EXPECT_TRUE(vlan->isEnabled());
    EXPECT_FALSE(box("VLAN0Priority")->isEnabled());
    vlan->setChecked(true);
    EXPECT_TRUE(box("VLAN7Priority")->isEnabled());
    page->findChild<QPushButton*>("button_QoS_Apply")->click();
    EXPECT_FALSE(box("VLAN7Priority")->isEnabled());
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(box("VLAN7Priority")->isEnabled());
    EXPECT_FALSE(box("TOS7Priority")->isEnabled());
}

TEST_F(QoSPageTest, EntriesAreCheckedAndTheListsHoldEightEach) {
    start();
    choose(kRemote);
    type(page->macList(), "00:11:22:33:44");
    EXPECT_EQ(shown("msg11"), 1);
    EXPECT_EQ(page->macList()->topLevelItemCount(), 0);
    type(page->portList(), "65536");
    EXPECT_EQ(shown("msg12"), 1);
    for (int port = 1; port <= 8; ++port)
        type(page->portList(), std::to_string(port).c_str());
    EXPECT_EQ(page->portList()->topLevelItemCount(), 8);
    page->addEntry(page->portList());
    EXPECT_EQ(shown("msg13"), 1);
    // A bad change of an entry keeps what it held; Delete removes it.
    page->portList()->selectRow(0);
    page->editEntry(page->portList());
    enter(page->portList(), QStringLiteral("0"));
    EXPECT_EQ(shown("msg12"), 2);
    EXPECT_EQ(page->portList()->cell(0, CQoSPage::Key), "1");
    page->portList()->selectRow(0);
    QTest::keyClick(page->portList(), Qt::Key_Delete);
    EXPECT_EQ(page->portList()->topLevelItemCount(), 7);
    EXPECT_EQ(page->settings().portRules.front().port, 2);
}

TEST_F(QoSPageTest, FailedReadAndWriteAreTold) {
    auto network = test::SimulatedProgram::builtInNetwork();
    for (auto& device : network["devices"]) {
        if (device["mac"] == kOld)
            device["faults"] = nlohmann::json::array({{{"kind", "fail"}, {"message", "read-module"}, {"share", 1}}});
        if (device["mac"] == kRemote)
            device["faults"] = nlohmann::json::array({{{"kind", "fail"}, {"message", "commit"}, {"share", 1}}});
    }
    start(network);
    choose(kOld);
    EXPECT_EQ(shown("msg45"), 1);
    EXPECT_TRUE(page->shownDevice().empty());
    EXPECT_FALSE(page->findChild<QPushButton*>("button_QoS_Apply")->isEnabled());
    choose(kRemote);
    page->findChild<QPushButton*>("button_QoS_Apply")->click();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(shown("msg41"), 1);
    EXPECT_EQ(shown("msg40"), 0);
}
