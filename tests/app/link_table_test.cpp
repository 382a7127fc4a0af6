#include "app/link_table.h"
#include "app/scan_cycle.h"
#include "sim/network.h"
#include "tests/support/simulated_program.h"

#include <gtest/gtest.h>
#include <map>

using namespace zrq406;
using nlohmann::json;
using zrq406::test::SimulatedProgram;

namespace {

const char* const kLocal = "00:b0:52:5a:00:01";
const char* const kHall = "00:b0:52:5a:00:02";
const char* const kCellar = "00:b0:52:5a:00:03";
const char* const kAttic = "00:b0:52:5a:00:04";

json device(const char* mac, json extra = json::object()) {
    extra["mac"] = mac;
    return extra;
}

// Local, hall and cellar with a known rate for each direction of every pair, set from either end.
json asymmetricNetwork() {
    return json{{"devices",
                 {device(kLocal, {{"rates", {{kHall, {{"tx", 150}, {"rx", 40}}}}}}),
                  device(kHall, {{"rates", {{kCellar, {{"tx", 30}, {"rx", 90}}}}}}),
                  device(kCellar, {{"rates", {{kLocal, {{"tx", 70}, {"rx", 255}}}}}})}}};
}

app::LinkTable scanAndRead(SimulatedProgram& program) {
    EXPECT_TRUE(program.open());
    EXPECT_TRUE(app::runScan(program.session, "t").found);
    return app::readLinkTable(program.session);
}

const app::LinkRow& row(const app::LinkTable& table, const char* from, const char* to) {
    for (const auto& r : table.rows) {
        if (r.from == *MacAddress::parse(from) && r.to == *MacAddress::parse(to))
            return r;
    }
    throw std::runtime_error(std::string("no row ") + from + " -> " + to);
}

} // namespace

TEST(LinkTable, EveryOrderedPairCarriesBothDirectionsAsEachEndSeesThem) {
    SimulatedProgram program(asymmetricNetwork());
    const app::LinkTable table = scanAndRead(program);
    ASSERT_EQ(table.stations.size(), 3u);
    EXPECT_EQ(table.stations[0], *MacAddress::parse(kLocal));
    ASSERT_EQ(table.rows.size(), 6u);
    EXPECT_TRUE(table.silent.empty());
    // {from, to, tx, rx}: each device's own setting, or its peer's mirrored, as PHY rates (field x 21 / 16).
    const std::map<std::pair<std::string, std::string>, std::pair<int, int>> expected{
        {{kLocal, kHall}, {196, 52}},  {{kHall, kLocal}, {52, 196}},   {{kHall, kCellar}, {39, 118}},
        {{kCellar, kHall}, {118, 39}}, {{kCellar, kLocal}, {91, 334}}, {{kLocal, kCellar}, {334, 91}}};
    for (const auto& [pair, rates] : expected) {
        const app::LinkRow& r = row(table, pair.first.c_str(), pair.second.c_str());
        EXPECT_TRUE(r.known && r.listed) << pair.first << " -> " << pair.second;
        EXPECT_EQ(r.tx, static_cast<std::uint32_t>(rates.first)) << pair.first << " -> " << pair.second;
        EXPECT_EQ(r.rx, static_cast<std::uint32_t>(rates.second)) << pair.first << " -> " << pair.second;
    }

    const auto sorted = app::sortedWeakestFirst(table.rows);
    EXPECT_EQ(app::weakerRate(sorted.front()), 39u);
    EXPECT_EQ(app::weakerRate(sorted.back()), 91u);
    EXPECT_TRUE(app::transmitIsWeaker(row(table, kHall, kCellar)));
    EXPECT_FALSE(app::transmitIsWeaker(row(table, kCellar, kHall)));
    EXPECT_EQ(app::rateText(334, table.rateFieldMax), "\u2265334");
    EXPECT_EQ(app::rateText(333, table.rateFieldMax), "333");
}

TEST(LinkTable, SilentStationIsUnknownNotZeroAndAskedOnce) {
    json network = asymmetricNetwork();
    network["devices"].push_back(
        device(kAttic, {{"faults", {{{"kind", "drop"}, {"message", "network-info"}, {"share", 1}}}}}));
    SimulatedProgram program(network);
    ASSERT_TRUE(program.open());
    ASSERT_TRUE(app::runScan(program.session, "t").found);
    int atticAsked = 0;
    program.session.network()->setRequestLog([&](const std::string& line) {
        if (line.find(kAttic) != std::string::npos && line.find("network-info") != std::string::npos)
            ++atticAsked;
    });
    const app::LinkTable table = app::readLinkTable(program.session);
    program.session.network()->setRequestLog(nullptr);

    ASSERT_EQ(table.stations.size(), 4u);
    ASSERT_EQ(table.silent.size(), 1u);
    EXPECT_EQ(table.silent[0], *MacAddress::parse(kAttic));
    EXPECT_EQ(atticAsked, 1);
    for (const char* peer : {kLocal, kHall, kCellar}) {
        EXPECT_FALSE(row(table, kAttic, peer).known);
        // The others still see the attic, with the rates they measure.
        EXPECT_TRUE(row(table, peer, kAttic).known && row(table, peer, kAttic).listed);
    }
    EXPECT_TRUE(row(table, kLocal, kHall).known);
    const auto sorted = app::sortedWeakestFirst(table.rows);
    EXPECT_FALSE(sorted.back().known);
    EXPECT_TRUE(sorted[sorted.size() - 4].known);
}

TEST(LinkTable, PositionsMakeNearerDevicesFasterAndADroppedLinkIsListedByNeither) {
    json network{
        {"devices",
         {device(kLocal, {{"position", 0}}), device(kHall, {{"position", 15}}),
          device(kCellar,
                 {{"position", 170},
                  {"rates", {{kHall, {{"tx", 80}, {"rx", 80}, {"schedule", {{{"afterMs", 0}, {"drop", true}}}}}}}}})}}};
    SimulatedProgram program(network);
    const app::LinkTable table = scanAndRead(program);
    ASSERT_EQ(table.rows.size(), 6u);
    const app::LinkRow& nearLink = row(table, kLocal, kHall);
    const app::LinkRow& farLink = row(table, kLocal, kCellar);
    EXPECT_GT(app::weakerRate(nearLink), app::weakerRate(farLink));
    // Both ends agree on the derived rates.
    EXPECT_EQ(nearLink.tx, row(table, kHall, kLocal).rx);
    EXPECT_EQ(nearLink.rx, row(table, kHall, kLocal).tx);
    for (const auto& [from, to] : {std::pair{kHall, kCellar}, std::pair{kCellar, kHall}}) {
        const app::LinkRow& dropped = row(table, from, to);
        EXPECT_TRUE(dropped.known);
        EXPECT_FALSE(dropped.listed);
        EXPECT_EQ(app::weakerRate(dropped), 0u);
    }
}

TEST(LinkTable, AStationListedTwiceIsOneDeviceWithNoLinkToItself) {
    json network = asymmetricNetwork();
    network["devices"][0]["faults"] = {
        {{"kind", "malformed"}, {"message", "network-info"}, {"form", "repeated-station"}, {"share", 1}}};
    SimulatedProgram program(network);
    ASSERT_TRUE(program.open());
    ASSERT_TRUE(app::runScan(program.session, "t").found);
    EXPECT_EQ(program.session.discoveryResult().local.stationCount, 2u);
    EXPECT_EQ(program.session.registry().scanTable().count, 3);
    const app::LinkTable& table = program.session.linkTable();
    EXPECT_EQ(table.stations.size(), 3u);
    EXPECT_EQ(table.rows.size(), 6u);
    for (const auto& r : table.rows)
        EXPECT_NE(r.from, r.to);
    const auto history =
        app::historyScanOf(program.session.discoveryResult(), program.session.registry().scanTable(), table, 0);
    EXPECT_EQ(history.devices.size(), 3u);
    EXPECT_EQ(history.links.size(), 6u);
}
