#include "app/link_metrics.h"
#include "app/scan_cycle.h"
#include "platform/text_field.h"
#include "tests/support/text_lines.h"

#include <gtest/gtest.h>
#include <sstream>

using namespace zrq406;
using zrq406::test::linesStarting;

namespace {

MacAddress mac(const char* text) {
    return *MacAddress::parse(text);
}

mme::NetworkInfoConfirm sees(std::initializer_list<std::pair<const char*, int>> peers) {
    mme::NetworkInfoConfirm info;
    info.networks = 1;
    for (const auto& [peer, rate] : peers) {
        mme::NetworkStation station;
        station.mac = mac(peer);
        station.averageTxRate = static_cast<std::uint8_t>(rate);
        station.averageRxRate = static_cast<std::uint8_t>(rate + 1);
        info.stations.push_back(station);
    }
    return info;
}

// True when a sample line is `name{labels} value` with every label value closed, whatever it holds.
bool wellFormedSample(const std::string& line) {
    const auto brace = line.find('{');
    std::size_t at = brace == std::string::npos ? line.find(' ') : brace;
    if (brace != std::string::npos) {
        bool quoted = false;
        for (++at; at < line.size(); ++at) {
            if (quoted && line[at] == '\\')
                ++at;
            else if (line[at] == '"')
                quoted = !quoted;
            else if (!quoted && line[at] == '}')
                break;
        }
        if (at >= line.size())
            return false;
        ++at;
    }
    return at < line.size() && line[at] == ' ' && line.find_first_not_of("0123456789.", at + 1) == std::string::npos &&
           at + 1 < line.size();
}

} // namespace

TEST(LinkMetrics, HostileNamesStayInsideTheirLabelsAndUnknownLinksHaveNoSample) {
    const char* const a = "00:b0:52:5a:00:01";
    const char* const b = "00:b0:52:5a:00:02";
    const char* const c = "00:b0:52:5a:00:03";
    app::MetricsSnapshot snapshot;
    snapshot.localFound = true;
    snapshot.links = app::buildLinkTable({mac(a), mac(b), mac(c)}, {sees({{b, 90}, {c, 40}}), sees({{a, 80}}), {}});
    const std::string hostile = "Kitchen\"} 1\nzrq406_device_up{mac=\"x\\\xff";
    snapshot.links.names = {hostile, "Hall", ""};
    snapshot.devices = {{mac(a), hostile, "fw\n\"2\"", true}, {mac(b), "Hall", "fw", true}, {mac(c), "", "", false}};
    snapshot.scanSeconds = 0.25;
    const std::string text = app::buildMetricsText(snapshot);

    EXPECT_EQ(app::metricsLabelValue(hostile), "Kitchen\\\"} 1\\nzrq406_device_up{mac=\\\"x\\\\\xEF\xBF\xBD");
    std::istringstream lines(text);
    std::string line;
    int transmit = 0;
    int up = 0;
    std::string last;
    while (std::getline(lines, line)) {
        last = line;
        if (line.rfind('#', 0) == 0)
            continue;
        EXPECT_TRUE(wellFormedSample(line)) << line;
        transmit += line.rfind("zrq406_link_transmit_bits_per_second{", 0) == 0;
        up += line.rfind("zrq406_device_up{", 0) == 0;
    }
    EXPECT_EQ(up, 3);
    // b lists no link to c (0), c never answered (no sample): a->b, a->c, b->a, b->c.
    EXPECT_EQ(transmit, 4);
    EXPECT_NE(text.find("from=\"00:b0:52:5a:00:02\",from_name=\"Hall\",to=\"00:b0:52:5a:00:03\",to_name="
                        "\"00:b0:52:5a:00:03\"} 0\n"),
              std::string::npos);
    EXPECT_EQ(text.find("from=\"00:b0:52:5a:00:03\""), std::string::npos);
    EXPECT_NE(text.find("zrq406_device_info{mac=\"00:b0:52:5a:00:01\""), std::string::npos);
    EXPECT_NE(text.find("zrq406_scan_duration_seconds 0.250\n"), std::string::npos);
    EXPECT_EQ(last, "# EOF");
}

// Whatever the tables are handed, a device is one series and a device has no link to itself: such a link would read
// 0 and look like a link down.
TEST(LinkMetrics, RepeatedStationsMakeNoSecondSeriesAndNoLinkToItself) {
    const char* const a = "00:b0:52:5a:00:01";
    const char* const b = "00:b0:52:5a:00:02";
    app::LinkTable links = app::buildLinkTable({mac(a), mac(b), mac(b)}, {sees({{b, 90}}), sees({{a, 80}}), {}});
    ASSERT_EQ(links.stations.size(), 2u);
    ASSERT_EQ(links.rows.size(), 2u);
    EXPECT_TRUE(links.silent.empty());
    EXPECT_EQ(links.rows[1].tx, app::phyRateOfField(80));

    links.rows.push_back({mac(b), mac(b), 0, 0, true, false});
    links.rows.push_back(links.rows[0]);
    app::MetricsSnapshot snapshot;
    snapshot.localFound = true;
    snapshot.links = links;
    snapshot.devices = {{mac(a), "", "fw", true}, {mac(b), "", "fw", true}, {mac(b), "", "fw", true}};
    const std::string text = app::buildMetricsText(snapshot);
    EXPECT_EQ(linesStarting(text, "zrq406_device_up{"), 2);
    EXPECT_EQ(linesStarting(text, "zrq406_device_info{"), 2);
    EXPECT_EQ(linesStarting(text, "zrq406_link_transmit_bits_per_second{"), 2);
    EXPECT_EQ(linesStarting(text, "zrq406_link_receive_bits_per_second{"), 2);

    ScanTable scan{};
    for (const char* device : {a, b, b})
        copyToField(scan.entries[scan.count++].mac, device);
    const auto history = app::historyScanOf(mme::DiscoveryResult{}, scan, links, 0);
    EXPECT_EQ(history.devices.size(), 2u);
    EXPECT_EQ(history.links.size(), 2u);
}
