#include "app/link_history.h"
#include "tests/cli/cli_fixture.h"

using zrq406::test::CliFixture;
using namespace zrq406;

namespace {

// Scans write the link history named here for the test's length only.
class LinkHistoryCli : public CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        setenv("ZRQ406_LINK_HISTORY", path("links.db").c_str(), 1);
    }
    void TearDown() override {
        setenv("ZRQ406_LINK_HISTORY", "none", 1);
        CliFixture::TearDown();
    }
};

std::size_t lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

TEST_F(LinkHistoryCli, ScansAreListedPerLinkAndDeviceForScriptsAndSpreadsheets) {
    ASSERT_EQ(run({"scan"}).code, 0);
    ASSERT_EQ(run({"scan"}).code, 0);
    ASSERT_EQ(run({"scan", "--no-save"}).code, 0);

    const auto csv = run({"history", "links", "--csv"});
    ASSERT_EQ(csv.code, 0) << csv.err;
    EXPECT_EQ(lines(csv.out), 1u + 12 * 2) << csv.out; // every ordered pair of four devices, two saved scans
    const auto one = run({"--json", "history", "links", "--device", "00:b0:52:5a:00:03", "--since", "1h"});
    ASSERT_EQ(one.code, 0) << one.err;
    ASSERT_EQ(one.json().size(), 6u); // the device's three links, both ways
    EXPECT_EQ(one.json()[0]["from"], "00:b0:52:5a:00:01");
    EXPECT_EQ(one.json()[0]["to"], "00:b0:52:5a:00:03");
    EXPECT_EQ(one.json()[0]["samples"].size(), 2u);
    EXPECT_EQ(one.json()[0]["transmit"]["min"], one.json()[0]["transmit"]["max"]);
    const auto devices = run({"--json", "history", "devices"});
    ASSERT_EQ(devices.code, 0) << devices.err;
    EXPECT_EQ(devices.json().size(), 4u);
    EXPECT_EQ(run({"history", "links", "--since", "7x"}).code, 2);
    EXPECT_EQ(run({"history", "links", "--device", "ff:ff"}).code, 2);

    const auto report = run({"report"});
    ASSERT_EQ(report.code, 0) << report.err;
    EXPECT_NE(report.out.find("Links over the last seven days"), std::string::npos);
    EXPECT_NE(report.out.find("00:b0:52:5a:00:01  00:b0:52:5a:00:04"), std::string::npos) << report.out;
}

// A device name is anyone's to set: in CSV it stays text, never a spreadsheet formula, and never breaks a row.
TEST_F(LinkHistoryCli, DeviceNamesStayPlainCells) {
    {
        app::LinkHistory history(path("links.db"));
        ASSERT_TRUE(history.open());
        ASSERT_TRUE(history.append({1733745600, {{MacAddress::localDevice(), "=HYPERLINK(\"x\"),1", "fw", true}}, {}}));
    }
    const auto csv = run({"history", "devices", "--csv"});
    ASSERT_EQ(csv.code, 0) << csv.err;
    EXPECT_NE(csv.out.find(",\"'=HYPERLINK(\"\"x\"\"),1\",fw,"), std::string::npos) << csv.out;
}

TEST_F(LinkHistoryCli, AlertsAreListedFromTheHistory) {
    const MacAddress a{{0x00, 0xB0, 0x52, 0x5A, 0x00, 0x01}};
    const MacAddress b{{0x00, 0xB0, 0x52, 0x5A, 0x00, 0x02}};
    const std::time_t start = std::time(nullptr) - 24 * 60 * 60 - 60;
    {
        app::LinkHistory history(path("links.db"));
        ASSERT_TRUE(history.open());
        for (int i = 0; i < 23; ++i) {
            const std::uint32_t rate = i < 20 ? 100 : 40;
            ASSERT_TRUE(history.append({start + i * 600,
                                        {{a, "Kitchen \"1\"", i < 21 ? "fw" : "fw-2", true},
                                         {b, "Office", "fw", i < 22}},
                                        {{a, b, rate, rate, true}, {b, a, 100, 100, true}}}));
        }
    }
    const auto listed = run({"--json", "history", "alerts", "--since", "2d"});
    ASSERT_EQ(listed.code, 0) << listed.err;
    const auto alerts = listed.json();
    ASSERT_EQ(alerts.size(), 5u) << listed.out;
    EXPECT_EQ(alerts[0]["type"], "device_new");
    EXPECT_EQ(alerts[0]["name"], "Kitchen \"1\"");
    EXPECT_EQ(alerts[1]["mac"], "00:b0:52:5a:00:02");
    EXPECT_EQ(alerts[2]["type"], "firmware_changed");
    EXPECT_EQ(alerts[2]["before"], "fw");
    EXPECT_EQ(alerts[2]["after"], "fw-2");
    EXPECT_EQ(alerts[3]["type"], "link_slow");
    EXPECT_EQ(alerts[3]["mac"], "00:b0:52:5a:00:01");
    EXPECT_EQ(alerts[3]["peer"], "00:b0:52:5a:00:02");
    EXPECT_EQ(alerts[3]["rate"], 40);
    EXPECT_EQ(alerts[3]["median"], 100);
    EXPECT_EQ(alerts[4]["type"], "device_lost");
    EXPECT_EQ(alerts[4]["time"], alerts[3]["time"]);

    const auto text = run({"history", "alerts", "--since", "1d"});
    ASSERT_EQ(text.code, 0) << text.err;
    EXPECT_EQ(lines(text.out), 3u) << text.out; // the first scan is older than a day by now
    EXPECT_NE(text.out.find("(Kitchen \"1\") firmware changed: fw -> fw-2"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("00:b0:52:5a:00:02 (Office) stopped answering"), std::string::npos) << text.out;
    EXPECT_EQ(run({"history", "alerts", "--since", "1y"}).code, 2);
}
