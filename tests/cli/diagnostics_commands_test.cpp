#include "cli_fixture.h"
#include "platform/text_field.h"
#include "registry/history_file.h"
#include "tests/support/text_lines.h"

#include <iterator>

using zrq406::test::CliFixture;
using zrq406::test::linesStarting;

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

TEST_F(CliFixture, LinksWeakestFirstWithHostileNamesIntactAndInTheReport) {
    zrq406::HistoryTable table{};
    zrq406::copyToField(table.records[0].name, "Attic\" \\ \n\x1b[2J\xff");
    zrq406::copyToField(table.records[0].mac, kRemote);
    ASSERT_TRUE(zrq406::HistoryFile(historyPath()).save(table, 1));

    auto json = run({"--json", "links"});
    ASSERT_EQ(json.code, 0) << json.err;
    const auto document = json.json();
    const std::size_t devices = network()["devices"].size();
    ASSERT_EQ(document["links"].size(), devices * (devices - 1));
    int previous = 0;
    bool attic = false;
    for (const auto& link : document["links"]) {
        ASSERT_TRUE(link["known"].get<bool>());
        EXPECT_GE(link["weaker"].get<int>(), previous);
        previous = link["weaker"].get<int>();
        EXPECT_EQ(link["weaker"], std::min(link["tx"].get<int>(), link["rx"].get<int>()));
        EXPECT_EQ(link["weaker"], link[link["weakerDirection"].get<std::string>()]);
        attic = attic || link["fromName"] == "Attic\" \\ \n\x1b[2J\xEF\xBF\xBD";
    }
    EXPECT_TRUE(attic);

    auto plain = run({"links"});
    ASSERT_EQ(plain.code, 0) << plain.err;
    EXPECT_EQ(plain.out.find('\x1b'), std::string::npos);
    EXPECT_NE(plain.out.find("Weaker direction"), std::string::npos);

    auto report = run({"report"});
    ASSERT_EQ(report.code, 0) << report.err;
    const auto section = report.out.find("Links between the devices\n");
    ASSERT_NE(section, std::string::npos);
    EXPECT_LT(section, report.out.find("Device History"));
    EXPECT_NE(report.out.find("one byte per rate"), std::string::npos);
}

// A name holding control sequences, and a local device that lists a station twice.
TEST_F(CliFixture, MetricsPrintNoControlBytesAndOneSeriesPerDeviceAndLink) {
    const std::string name = "Attic\x1b]0;owned\x07";
    zrq406::HistoryTable table{};
    zrq406::copyToField(table.records[0].name, name);
    zrq406::copyToField(table.records[0].mac, kRemote);
    ASSERT_TRUE(zrq406::HistoryFile(historyPath()).save(table, 1));
    network()["devices"][0]["faults"] = {
        {{"kind", "malformed"}, {"message", "network-info"}, {"form", "repeated-station"}, {"share", 1}}};
    writeNetwork();

    auto printed = run({"metrics"});
    ASSERT_EQ(printed.code, 0) << printed.err;
    EXPECT_EQ(printed.out.find_first_of("\x1b\x07"), std::string::npos);
    EXPECT_NE(printed.out.find("name=\"Attic\xEF\xBF\xBD]0;owned\xEF\xBF\xBD\""), std::string::npos) << printed.out;
    const std::size_t devices = network()["devices"].size();
    EXPECT_EQ(linesStarting(printed.out, "zrq406_device_up{"), static_cast<int>(devices));
    EXPECT_EQ(linesStarting(printed.out, "zrq406_link_transmit_bits_per_second{"),
              static_cast<int>(devices * (devices - 1)));

    // The file for the collector keeps the name as it was given.
    ASSERT_EQ(run({"metrics", "-o", path("zrq406.prom").string()}).code, 0);
    std::ifstream file(path("zrq406.prom"));
    const std::string written((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(written.find("name=\"" + name + "\""), std::string::npos) << written;
}
