#include "cli_fixture.h"

using zrq406::test::CliFixture;

namespace {
const std::string kRemote = "00:b0:52:5a:00:02";
} // namespace

TEST_F(CliFixture, QosSettingsAreReadAndChangedForScripts) {
    auto read = run({"--json", "qos", kRemote});
    ASSERT_EQ(read.code, 0) << read.err;
    EXPECT_EQ(read.json()["area"], "valid");
    EXPECT_EQ(read.json()["vlan"]["enabled"], false);
    EXPECT_EQ(read.json()["vlan"]["map"][6], "cap3");

    // A document names only what changes; the rest keeps the device's values.
    auto written = run({"--json", "qos", kRemote, "--write", "-"},
                       R"({"tos": {"enabled": true}, "portRules": [{"port": 5060, "priority": "cap3"}]})");
    ASSERT_EQ(written.code, 0) << written.err;
    auto again = run({"--json", "qos", kRemote});
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(again.json(), written.json());
    EXPECT_EQ(again.json()["tos"]["enabled"], true);
    EXPECT_EQ(again.json()["vlan"], read.json()["vlan"]);
    EXPECT_EQ(again.json()["portRules"][0]["port"], 5060);

    // Documents that cannot be settings are refused before the device is touched.
    for (const char* document :
         {R"({"vlan": {"map": ["cap9"]}})", R"({"macRules": [{"mac": "00:11", "priority": "cap1"}]})",
          R"({"portRules": [{"port": 0, "priority": "cap1"}]})", "not json"}) {
        auto refused = run({"qos", kRemote, "--write", "-"}, document);
        EXPECT_EQ(refused.code, 2) << document;
        EXPECT_FALSE(refused.err.empty());
    }
    EXPECT_EQ(run({"--json", "qos", kRemote}).json(), again.json());
    EXPECT_EQ(run({"qos", "00:b0:52:5a:00:99"}).code, 1);
}

TEST_F(CliFixture, ReportHoldsEveryDeviceAndLeavesTheHistoryAlone) {
    auto written = run({"report", "-o", path("report.txt").string()});
    ASSERT_EQ(written.code, 0) << written.err;
    std::ifstream in(path("report.txt"));
    const std::string report((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(report.rfind("TALVERN ZRQ406 Diagnostics Report\n", 0), 0u);
    for (const auto& device : network()["devices"])
        EXPECT_NE(report.find(device["mac"].get<std::string>()), std::string::npos) << device["mac"];
    EXPECT_NE(report.find("Device History"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(historyPath()));

    auto printed = run({"--lang", "de", "report"});
    ASSERT_EQ(printed.code, 0) << printed.err;
    EXPECT_EQ(printed.out.rfind("TALVERN ZRQ406 Diagnosebericht\n", 0), 0u);
    EXPECT_EQ(run({"report", "-o", path("missing/report.txt").string()}).code, 1);
}
