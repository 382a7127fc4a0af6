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
