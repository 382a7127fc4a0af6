#include "app/link_health.h"
#include "app/link_history.h"
#include "app/scan_cycle.h"
#include "tests/support/simulated_program.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace zrq406;
using zrq406::test::SimulatedProgram;

namespace {

// The carrier nearest to `mhz`.
std::size_t carrierAt(double mhz) {
    return static_cast<std::size_t>(mhz * 1000.0 / mme::kCarrierSpacingKhz + 0.5) - mme::kFirstCarrierIndex;
}

app::CarrierSlot slotOf(std::uint8_t number, std::uint8_t code) {
    app::CarrierSlot slot;
    slot.slot = number;
    slot.modulation.fill(code);
    return slot;
}

void setRange(app::CarrierSlot& slot, std::size_t first, std::size_t last, std::uint8_t code) {
    for (std::size_t k = first; k <= last; ++k)
        slot.modulation[k] = code;
}

} // namespace

TEST(LinkHealth, FiguresComeFromTheReceiverFirstAndAreUnknownWithoutTraffic) {
    app::LinkDirectionHealth link;
    EXPECT_FALSE(link.counted());
    EXPECT_FALSE(link.pbErrorRate() || link.mpduFailureRate() || link.collisionRate() || link.fecBitErrorRate());

    link.sent = mme::TransmitCounters{70, 20, 10, 950, 50};
    EXPECT_DOUBLE_EQ(*link.pbErrorRate(), 0.05);
    EXPECT_DOUBLE_EQ(*link.mpduFailureRate(), 10.0 / 80.0);
    EXPECT_DOUBLE_EQ(*link.collisionRate(), 0.2);
    EXPECT_FALSE(link.fecBitErrorRate()); // only the receiver counts mended bits

    mme::ReceiveCounters received;
    received.mpdusAcknowledged = 90;
    received.mpdusFailed = 10;
    received.pbsPassed = 900;
    received.pbsFailed = 100;
    received.bitErrorsPassed = 31200;
    received.bitErrorsFailed = 10400;
    link.received = received;
    EXPECT_DOUBLE_EQ(*link.pbErrorRate(), 0.1);
    EXPECT_DOUBLE_EQ(*link.mpduFailureRate(), 0.1);
    // 41600 bits of 1000 PBs x 520 bytes: 1 %.
    EXPECT_DOUBLE_EQ(*link.fecBitErrorRate(), 1.0);

    // A receiver that counted nothing yet leaves the word to the sender.
    link.received = mme::ReceiveCounters{};
    EXPECT_DOUBLE_EQ(*link.pbErrorRate(), 0.05);
}

TEST(LinkHealth, WeakestFirstByPbErrorRateThenUncountedLast) {
    auto make = [](int n, std::uint32_t rate, std::optional<std::uint64_t> failed) {
        app::LinkDirectionHealth link;
        link.to = {{0, 0, 0, 0, 0, static_cast<std::uint8_t>(n)}};
        link.rate = rate;
        if (failed)
            link.sent = mme::TransmitCounters{1, 0, 0, 100 - *failed, *failed};
        return link;
    };
    // No traffic at all counts as counted without a rate.
    app::LinkDirectionHealth idle = make(5, 10, std::nullopt);
    idle.sent = mme::TransmitCounters{};
    const auto sorted = app::healthSortedWeakestFirst(
        {make(1, 200, std::nullopt), make(2, 150, 1), idle, make(3, 90, 20), make(4, 80, 1)});
    std::vector<int> order;
    for (const auto& link : sorted)
        order.push_back(link.to.bytes[5]);
    EXPECT_EQ(order, (std::vector<int>{3, 4, 2, 5, 1}));
}

TEST(CarrierSummary, LostBandsMergedAndNamedInMegahertz) {
    // Two slots of 64-QAM (6 bits) with nothing from 10.2 to 13.9 MHz in both, a stretch at 20-21 MHz that one slot
    // carries with BPSK and the other with 8-QAM (2 bits in the mean), and stray single carriers that are no band.
    app::CarrierMap map;
    map.slots = 2;
    for (std::uint8_t s = 0; s < 2; ++s) {
        app::CarrierSlot slot = slotOf(s, 5);
        setRange(slot, carrierAt(10.2), carrierAt(13.9), 0);
        setRange(slot, carrierAt(12.0), carrierAt(12.0) + 2, 3); // a short gap inside the band is part of it
        setRange(slot, carrierAt(20.0), carrierAt(21.0), s == 0 ? 1 : 3);
        slot.modulation[carrierAt(5.0)] = 0;
        slot.modulation[carrierAt(25.0)] = 1;
        map.read.push_back(slot);
    }
    const app::CarrierSummary mean = app::summarizeCarriers(map);
    ASSERT_EQ(mean.bands.size(), 2u);
    EXPECT_EQ(app::bandText(mean.bands[0]), "10.2-13.9 MHz carry no data");
    EXPECT_EQ(app::bandText(mean.bands[1]), "20.0-21.0 MHz carry little data");
    const std::size_t lost = carrierAt(13.9) - carrierAt(10.2) + 1 - 3 + 1;
    EXPECT_EQ(mean.active, mme::kCarriers - lost);
    const std::size_t little = carrierAt(21.0) - carrierAt(20.0) + 1;
    const double bits = 6.0 * (mme::kCarriers - lost - 3 - little - 1) + 3.0 * 3 + 2.0 * little + 1.0;
    EXPECT_NEAR(mean.meanBits, bits / static_cast<double>(mean.active), 1e-9);
    EXPECT_NEAR(mean.rateMbps, bits * 16 / 21 / 46.52, 1e-9);

    // One slot alone, and a slot that was not read.
    const app::CarrierSummary second = app::summarizeCarriers(map, 1);
    ASSERT_EQ(second.bands.size(), 1u);
    EXPECT_TRUE(second.bands[0].none);
    EXPECT_EQ(app::summarizeCarriers(map, 4).carriers, 0u);
    EXPECT_TRUE(app::carrierBits(map, 4).empty());

    // German words from the language file fill the same ranges.
    app::HealthWords words;
    words.noData = "%s übertragen keine Daten";
    EXPECT_EQ(app::bandText(mean.bands[0], words), "10.2-13.9 MHz übertragen keine Daten");
    EXPECT_NEAR(app::carrierFrequencyMhz(0), 74 * 0.024414, 1e-12);
    EXPECT_NEAR(app::carrierFrequencyMhz(mme::kCarriers - 1), 1227 * 0.024414, 1e-12);
    EXPECT_DOUBLE_EQ(app::carrierSnrDb(map, 0)[carrierAt(20.5)], 2.0);
    EXPECT_DOUBLE_EQ(app::carrierSnrDb(map)[carrierAt(20.5)], 4.5);
}

// Until a device answers the two messages, each one is named once and nothing waits per link.
TEST(LinkHealthOverSim, DevicesThatDoNotAnswerAreNamedOnceAndAskedNoMore) {
    SimulatedProgram program;
    ASSERT_TRUE(program.open());
    ASSERT_TRUE(app::runScan(program.session, "t").found);
    const app::HealthTable health = app::readLinkHealth(program.session);
    EXPECT_EQ(health.links.size(), 12u);
    EXPECT_EQ(health.withoutStatistics.size(), 4u);
    for (const auto& link : health.links) {
        EXPECT_FALSE(link.counted());
        EXPECT_TRUE(link.rateKnown);
    }
    app::CarrierMap map;
    EXPECT_EQ(app::readCarrierMap(program.session, health.rates.stations[1], health.rates.stations[0], std::nullopt,
                                  map),
              app::CarrierMapOutcome::NotOffered);
}

// A version-1 history gains the PB error column in place: its scans stay, new scans keep their rate.
TEST(LinkHealthHistory, VersionOneFilesAreMigratedAndKeepThePbErrorRate) {
    SimulatedProgram program;
    const auto path = program.path("links.db");
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        const char* v1 =
            "CREATE TABLE scans(id INTEGER PRIMARY KEY, at INTEGER NOT NULL);"
            "CREATE INDEX scans_at ON scans(at);"
            "CREATE TABLE devices(mac INTEGER PRIMARY KEY, name TEXT NOT NULL, firmware TEXT NOT NULL,"
            " first_seen INTEGER NOT NULL, last_seen INTEGER NOT NULL, last_answered INTEGER NOT NULL);"
            "CREATE TABLE sightings(mac INTEGER NOT NULL, scan INTEGER NOT NULL, answered INTEGER NOT NULL,"
            " PRIMARY KEY(mac, scan)) WITHOUT ROWID;"
            "CREATE TABLE links(source INTEGER NOT NULL, target INTEGER NOT NULL, scan INTEGER NOT NULL,"
            " tx INTEGER NOT NULL, rx INTEGER NOT NULL, answered INTEGER NOT NULL,"
            " PRIMARY KEY(source, target, scan)) WITHOUT ROWID;"
            "INSERT INTO scans VALUES(1, 1000);"
            "INSERT INTO links VALUES(1, 2, 1, 120, 110, 1);"
            "PRAGMA user_version = 1;";
        ASSERT_EQ(sqlite3_exec(db, v1, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    const MacAddress one{{0, 0, 0, 0, 0, 1}};
    const MacAddress two{{0, 0, 0, 0, 0, 2}};
    app::LinkHistory history(path);
    ASSERT_TRUE(history.open());
    app::HistoryScan scan;
    scan.when = 2000;
    app::HistoryLinkRow row{one, two, 100, 90, true};
    row.pbErrorRate = 0.125;
    scan.links.push_back(row);
    scan.links.push_back({two, one, 90, 100, true});
    ASSERT_TRUE(history.append(scan));
    app::LinkSeries series;
    ASSERT_TRUE(history.link(one, two, 0, series));
    ASSERT_EQ(series.samples.size(), 2u);
    EXPECT_EQ(series.samples[0].transmitRate, 120u);
    EXPECT_FALSE(series.samples[0].pbErrorRate);
    ASSERT_TRUE(series.samples[1].pbErrorRate);
    EXPECT_DOUBLE_EQ(*series.samples[1].pbErrorRate, 0.125);
    std::vector<app::LinkSeries> all;
    ASSERT_TRUE(history.links(0, two, all));
    ASSERT_EQ(all.size(), 2u);
    EXPECT_FALSE(all[1].samples[0].pbErrorRate); // two -> one was not counted
    EXPECT_DOUBLE_EQ(all[0].samples[1].pbErrorRate.value_or(-1), 0.125);
}

// The scan hands the local device's counted links' PB error rates to the history, and only those.
TEST(LinkHealthHistory, TheScanLendsEachCountedDirectionItsPbErrorRate) {
    app::LinkTable table;
    const MacAddress local{{0, 0, 0, 0, 0, 1}};
    const MacAddress hall{{0, 0, 0, 0, 0, 2}};
    const MacAddress cellar{{0, 0, 0, 0, 0, 3}};
    table.stations = {local, hall, cellar};
    for (const auto& from : table.stations) {
        for (const auto& to : table.stations) {
            if (from != to)
                table.rows.push_back({from, to, 100, 100, true, true});
        }
    }
    app::LinkDirectionHealth counted;
    counted.from = hall;
    counted.to = local;
    counted.sent = mme::TransmitCounters{10, 0, 0, 75, 25};
    app::LinkDirectionHealth silent;
    silent.from = local;
    silent.to = hall;
    const auto scan = app::historyScanOf(mme::DiscoveryResult{}, ScanTable{}, table, 0, {counted, silent});
    int kept = 0;
    for (const auto& link : scan.links) {
        if (link.from == hall && link.to == local) {
            EXPECT_DOUBLE_EQ(link.pbErrorRate.value_or(-1), 0.25);
        }
        kept += link.pbErrorRate ? 1 : 0;
    }
    EXPECT_EQ(kept, 1);
}
