#include "app/diagnostics_report.h"
#include "app/key_change_texts.h"
#include "app/qos_actions.h"
#include "app/scan_cycle.h"
#include "app/utility_flows.h"
#include "sim/network.h"
#include "tests/support/simulated_program.h"

#include <gtest/gtest.h>

using namespace zrq406;
using zrq406::test::SimulatedProgram;

namespace {
const MacAddress kRemote{{0x00, 0xb0, 0x52, 0x5a, 0x00, 0x02}};
} // namespace

TEST(QosActions, SimulatedDevicesHoldTheDefaultsAndKeepWhatIsWritten) {
    SimulatedProgram program;
    ASSERT_TRUE(program.open());
    ASSERT_GE(app::findLocalDevice(program.session), 0);
    const app::QosRead first = app::readQosSettings(program.session, kRemote);
    ASSERT_EQ(first.result, mme::ReadResult::Done);
    EXPECT_EQ(first.decoded.state, mme::QosAreaState::Valid);
    EXPECT_EQ(first.decoded.settings, mme::QosSettings::defaults());

    mme::QosSettings wanted = mme::QosSettings::defaults();
    wanted.tosEnabled = true;
    wanted.portRules = {{443, mme::QosPriority::Cap2}};
    mme::QosSettings unstorable = wanted;
    unstorable.portRules.assign(9, {1, mme::QosPriority::Cap1});
    EXPECT_EQ(app::writeQosSettings(program.session, kRemote, unstorable), app::QosWrite::Invalid);
    EXPECT_EQ(app::writeQosSettings(program.session, MacAddress{{0, 0xb0, 0x52, 0, 0, 0x99}}, wanted),
              app::QosWrite::ReadFailed);
    // The utility's write waits out the restart after the commit: the device answers at once afterwards, with the
    // settings in its block.
    EXPECT_EQ(app::writeQosSettingsAndWait(program.session, kRemote, wanted), app::QosWrite::Done);
    const auto block = program.session.network()->device(kRemote)->configBlock;
    EXPECT_EQ(mme::decodeQosArea(std::span(block).subspan(mme::cfg::kQos, mme::cfg::kQosWidth)).settings, wanted);
    const app::QosRead back = app::readQosSettings(program.session, kRemote);
    ASSERT_EQ(back.result, mme::ReadResult::Done);
    EXPECT_EQ(back.decoded.settings, wanted);
}

TEST(QosActions, APortIsADecimalNumberFromOneTo65535AndNothingElse) {
    EXPECT_EQ(app::parseQosPort("1"), 1);
    EXPECT_EQ(app::parseQosPort("443"), 443);
    EXPECT_EQ(app::parseQosPort("65535"), 65535);
    for (const char* bad : {"", "0", "65536", "4294967297", "-1", "+80", " 80", "80 ", "8o", "0x50"})
        EXPECT_EQ(app::parseQosPort(bad), std::nullopt) << bad;
}

TEST(KeyChangeTexts, TheQuestionAndTheOutcomeHoldEveryDeviceAsText) {
    std::vector<std::string> devices;
    for (int i = 0; i < 100; ++i)
        devices.push_back("00:b0:52:00:00:" + std::to_string(10 + i % 90));
    const std::string question =
        app::keyConfirmationText("Set on these %s devices:{0}", "Others lose them.{0}OK or Cancel?", devices);
    EXPECT_EQ(question.rfind("Set on these %s devices:\n00:b0:52:00:00:10 \n00:b0:52:00:00:11 \n", 0), 0u);
    EXPECT_NE(question.find("00:b0:52:00:00:19\nOthers lose them.\n\nOK or Cancel?"), std::string::npos);
    EXPECT_EQ(std::count(question.begin(), question.end(), '\n'), 99 + 4);
    // Without a placeholder the first text gives nothing and the second is all tail.
    EXPECT_EQ(app::keyConfirmationText("none", "tail", {"a"}), "\na\n\n\ntail");

    EXPECT_EQ(app::networkPasswordProblemText(mme::PasswordProblem::Length, "Bad. Use 33-126.", " 8 to 64."),
              "Bad. 8 to 64.");
    EXPECT_EQ(app::networkPasswordProblemText(mme::PasswordProblem::Character, "Bad. Use 33-126.", " 8 to 64."),
              "Bad. Use 33-126.");
}

TEST(DiagnosticsReport, HoldsEveryRowAndNoDeviceTextCanBreakIt) {
    app::ReportTexts texts;
    texts.title = "Report";
    texts.createdLabel = "Created";
    texts.systemHeading = "System";
    texts.systemLabels = {"Computer", "User"};
    texts.devicesHeading = "Devices";
    texts.deviceColumns = {"Name", "MAC"};
    texts.historyHeading = "History";
    texts.historyColumns = {"Name", "MAC"};
    app::ReportContent content;
    content.created = "2025-01-31 14:05";
    content.systemValues = {"host", "user\x1b[2J"};
    content.devices = {{"Attic\nFake line", "00:b0:52:5a:00:01"},
                       {"K\xFF"
                        "che",
                        "00:b0:52:5a:00:02"}};
    content.history = {{"Old one", "00:b0:52:5a:00:09"}};
    const std::string report = app::buildDiagnosticsReport(texts, content);
    EXPECT_EQ(report.rfind("Report\n======\nCreated: 2025-01-31 14:05\n", 0), 0u);
    EXPECT_NE(report.find("Attic\xEF\xBF\xBD"
                          "Fake line  00:b0:52:5a:00:01\n"),
              std::string::npos);
    EXPECT_NE(report.find("K\xEF\xBF\xBD"
                          "che"),
              std::string::npos);
    EXPECT_EQ(report.find('\x1b'), std::string::npos);
    EXPECT_NE(report.find("Old one  00:b0:52:5a:00:09"), std::string::npos);
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 21);
}
