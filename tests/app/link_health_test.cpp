#include "app/health_texts.h"
#include "app/link_chart.h"
#include "app/link_health.h"
#include "app/link_history.h"
#include "app/scan_cycle.h"
#include "tests/support/simulated_program.h"
#include "uitext/placeholders.h"

#include <cstdio>
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
    app::HealthTable table;
    table.links = {link};
    app::HealthTexts texts;
    EXPECT_EQ(app::healthRows(table, texts).front().back(), "1.00 %"); // the window's FEC column: percent, once

    // A receiver that counted nothing yet leaves the word to the sender.
    link.received = mme::ReceiveCounters{};
    EXPECT_DOUBLE_EQ(*link.pbErrorRate(), 0.05);
}

// The history's PB error rate of a scan is that of the frames since the last one; a device that restarted in between
// counts from zero, so its reading stands as it is.
TEST(LinkHealth, CountedSinceTakesTheFramesBetweenTwoReadings) {
    const MacAddress a{{0x00, 0xB0, 0x52, 0, 0, 1}};
    const MacAddress b{{0x00, 0xB0, 0x52, 0, 0, 2}};
    auto reading = [&](std::uint64_t passed, std::uint64_t failed) {
        app::LinkDirectionHealth link;
        link.from = a;
        link.to = b;
        mme::ReceiveCounters received;
        received.pbsPassed = passed;
        received.pbsFailed = failed;
        link.received = received;
        return link;
    };
    const auto first = app::countedSince({reading(100000, 100)}, {});
    EXPECT_DOUBLE_EQ(*first.front().pbErrorRate(), 100.0 / 100100);
    const auto later = app::countedSince({reading(100900, 200)}, {reading(100000, 100)});
    EXPECT_DOUBLE_EQ(*later.front().pbErrorRate(), 0.1);
    const auto restarted = app::countedSince({reading(50, 50)}, {reading(100000, 100)});
    EXPECT_DOUBLE_EQ(*restarted.front().pbErrorRate(), 0.5);
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

    // A band that carries little running into one that carries nothing stops at its edge: no carrier named twice.
    app::CarrierMap edge;
    edge.slots = 1;
    app::CarrierSlot one = slotOf(0, 5);
    setRange(one, carrierAt(13.3), carrierAt(19.1), 1);
    setRange(one, carrierAt(19.1) + 1, carrierAt(22.7), 0);
    one.modulation[carrierAt(19.1) + 3] = 1;
    edge.read.push_back(one);
    const auto bands = app::summarizeCarriers(edge).bands;
    ASSERT_EQ(bands.size(), 2u);
    EXPECT_LT(bands[0].toMhz, bands[1].fromMhz);
}

namespace {

nlohmann::json networkOf(int devices, const std::string& quiet = "", const std::string& refusing = "") {
    nlohmann::json list = nlohmann::json::array();
    for (int i = 1; i <= devices; ++i) {
        char mac[32];
        std::snprintf(mac, sizeof mac, "00:b0:52:5a:00:%02x", i);
        nlohmann::json d{{"mac", mac}};
        if (mac == quiet)
            d["linkHealth"] = "silent";
        if (mac == refusing)
            d["linkHealth"] = "refuse";
        list.push_back(d);
    }
    return {{"devices", list}};
}

const MacAddress kLocal{{0x00, 0xB0, 0x52, 0x5A, 0x00, 0x01}};
const MacAddress kHall{{0x00, 0xB0, 0x52, 0x5A, 0x00, 0x02}};
const MacAddress kCellar{{0x00, 0xB0, 0x52, 0x5A, 0x00, 0x03}};

} // namespace

// Every direction of every link, both ends' counters; each end's figures agree with the other's.
TEST(LinkHealthOverSim, EveryLinkInBothDirectionsWeakestFirst) {
    SimulatedProgram program(networkOf(4));
    ASSERT_TRUE(program.open());
    ASSERT_TRUE(app::runScan(program.session, "t").found);
    const app::HealthTable health = app::readLinkHealth(program.session);
    ASSERT_EQ(health.links.size(), 12u);
    EXPECT_TRUE(health.withoutStatistics.empty());
    EXPECT_TRUE(health.silent.empty());
    for (const auto& link : health.links) {
        ASSERT_TRUE(link.sent && link.received) << link.from.text() << " -> " << link.to.text();
        EXPECT_TRUE(link.rateKnown);
        EXPECT_GT(link.rate, 0u);
        EXPECT_GT(link.sent->pbsPassed, 0u);
        ASSERT_TRUE(link.pbErrorRate() && link.fecBitErrorRate() && link.collisionRate());
    }
    for (std::size_t i = 1; i < health.links.size(); ++i)
        EXPECT_GE(*health.links[i - 1].pbErrorRate(), *health.links[i].pbErrorRate());
    EXPECT_EQ(program.session.exchange().overlaps(), 0);

    // One device's links only, in both directions.
    const app::HealthTable hall = app::readLinkHealth(program.session, kHall);
    EXPECT_EQ(hall.links.size(), 6u);
    for (const auto& link : hall.links) {
        EXPECT_TRUE(link.from == kHall || link.to == kHall);
        EXPECT_TRUE(link.sent && link.received);
    }
}

// A device that ignores the question or refuses it is named once; the others' links are counted as before, and
// from the far end where only one end counts.
TEST(LinkHealthOverSim, DevicesThatDoNotOfferTheStatisticsAreNamedOnce) {
    SimulatedProgram program(networkOf(4, "00:b0:52:5a:00:03", "00:b0:52:5a:00:04"));
    ASSERT_TRUE(program.open());
    ASSERT_TRUE(app::runScan(program.session, "t").found);
    const app::HealthTable health = app::readLinkHealth(program.session);
    ASSERT_EQ(health.withoutStatistics.size(), 2u);
    EXPECT_EQ(health.withoutStatistics[0], kCellar);
    for (const auto& link : health.links) {
        const bool fromOffering = link.from == kLocal || link.from == kHall;
        const bool toOffering = link.to == kLocal || link.to == kHall;
        EXPECT_EQ(link.sent.has_value(), fromOffering);
        EXPECT_EQ(link.received.has_value(), toOffering);
        EXPECT_EQ(link.pbErrorRate().has_value(), fromOffering || toOffering);
    }
    app::CarrierMap map;
    EXPECT_EQ(app::readCarrierMap(program.session, kCellar, kLocal, std::nullopt, map),
              app::CarrierMapOutcome::NotOffered);
    EXPECT_EQ(app::readCarrierMap(program.session, MacAddress{{0x00, 0xB0, 0x52, 0x5A, 0x00, 0x04}}, kLocal,
                                  std::nullopt, map),
              app::CarrierMapOutcome::NotOffered);
    EXPECT_EQ(app::clearLinkCounters(program.session, kCellar, kLocal), app::StatisticsOutcome::NoAnswer);
}

TEST(LinkHealthOverSim, CarrierMapsShowANoiseBandAndEverySlot) {
    nlohmann::json network = networkOf(3);
    network["devices"][0]["noise"] = {{{"fromMHz", 10.2}, {"toMHz", 13.9}, {"dB", 60}, {"peers", {"00:b0:52:5a:00:03"}}}};
    network["devices"][0]["rates"] = {{"00:b0:52:5a:00:03", {{"tx", 90}, {"rx", 80}, {"slots", 6}}},
                                      {"00:b0:52:5a:00:02", {{"tx", 90}, {"rx", 80}, {"slots", 0}}}};
    SimulatedProgram program(network);
    ASSERT_TRUE(program.open());
    ASSERT_TRUE(app::runScan(program.session, "t").found);

    app::CarrierMap map;
    ASSERT_EQ(app::readCarrierMap(program.session, kLocal, kCellar, std::nullopt, map), app::CarrierMapOutcome::Read);
    EXPECT_EQ(map.slots, 6);
    ASSERT_EQ(map.read.size(), 6u);
    for (std::size_t i = 0; i < map.read.size(); ++i)
        EXPECT_EQ(map.read[i].slot, i);
    const app::CarrierSummary summary = app::summarizeCarriers(map);
    ASSERT_FALSE(summary.bands.empty());
    EXPECT_EQ(app::bandText(summary.bands[0]), "10.2-13.9 MHz carry no data");
    // The map allows about the rate the network information tells (80 x 21 / 16 = 105 Mbit/s from the cellar).
    EXPECT_NEAR(summary.rateMbps, 105, 10.5);
    // The cellar hears the local device without the noise.
    app::CarrierMap other;
    ASSERT_EQ(app::readCarrierMap(program.session, kCellar, kLocal, 2, other), app::CarrierMapOutcome::Read);
    ASSERT_EQ(other.read.size(), 1u);
    EXPECT_EQ(other.read[0].slot, 2);
    EXPECT_TRUE(app::summarizeCarriers(other).bands.empty());

    EXPECT_EQ(app::readCarrierMap(program.session, kLocal, kHall, std::nullopt, map),
              app::CarrierMapOutcome::NoMapYet);
    EXPECT_EQ(app::readCarrierMap(program.session, kLocal, kCellar, 6, map), app::CarrierMapOutcome::NoSuchSlot);
    EXPECT_EQ(map.slots, 6);
}

TEST(LinkHealthOverSim, ClearingStartsTheCountersAgain) {
    SimulatedProgram program(networkOf(2));
    ASSERT_TRUE(program.open());
    ASSERT_TRUE(app::runScan(program.session, "t").found);
    const auto before = app::readLinkHealth(program.session);
    ASSERT_EQ(before.links.size(), 2u);
    ASSERT_TRUE(before.links[0].sent && before.links[1].sent);
    EXPECT_EQ(app::clearLinkCounters(program.session, kLocal, kHall), app::StatisticsOutcome::Done);
    const auto after = app::readLinkHealth(program.session);
    // The local device's own counters of the link, in both directions.
    for (const auto& link : after.links) {
        const auto& old = before.links[0].from == link.from ? before.links[0] : before.links[1];
        const std::uint64_t now = link.from == kLocal ? link.sent->pbsPassed : link.received->pbsPassed;
        const std::uint64_t then = link.from == kLocal ? old.sent->pbsPassed : old.received->pbsPassed;
        EXPECT_LT(now, then);
    }
}

// Each scan keeps the PB error rate of the local device's links in the history, and only theirs.
TEST(LinkHealthHistory, EachScanKeepsTheLocalLinksPbErrorRate) {
    SimulatedProgram program(networkOf(3));
    ASSERT_TRUE(program.open());
    program.session.scanRecorder().setPath(program.path("links.db"));
    ASSERT_TRUE(app::runScan(program.session, "t").found);
    app::LinkHistory history(program.path("links.db"));
    ASSERT_TRUE(history.open());
    std::vector<app::LinkSeries> series;
    ASSERT_TRUE(history.links(0, std::nullopt, series));
    ASSERT_EQ(series.size(), 6u);
    for (const auto& s : series) {
        ASSERT_EQ(s.samples.size(), 1u);
        const bool local = s.from == kLocal || s.to == kLocal;
        EXPECT_EQ(s.samples[0].pbErrorRate.has_value(), local) << s.from.text() << " -> " << s.to.text();
        if (local) {
            EXPECT_GT(*s.samples[0].pbErrorRate, 0.0);
            EXPECT_LT(*s.samples[0].pbErrorRate, 0.05);
        }
    }
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
            "INSERT INTO devices VALUES(1, 'Hall', 'FW-1', 1000, 1000, 1);"
            "INSERT INTO sightings VALUES(1, 1, 1);"
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

    // The firmware of the version-1 devices is where a change is measured from; a scan that brings no change
    // keeps no text.
    for (std::time_t when : {3000, 4000}) {
        app::HistoryScan next;
        next.when = when;
        next.devices.push_back({one, "Hall", "FW-2", true});
        ASSERT_TRUE(history.append(next));
    }
    std::vector<app::FirmwareChange> changes;
    ASSERT_TRUE(history.firmwareChanges(0, 4000, changes));
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].when, 3000);
    EXPECT_EQ(changes[0].before, "FW-1");
    EXPECT_EQ(changes[0].after, "FW-2");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* texts = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(firmware) FROM sightings", -1, &texts, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(texts), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(texts, 0), 2);
    sqlite3_finalize(texts);
    sqlite3_close(db);
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

// The history chart carries the PB error rate beside the rates, and says it in words in English and German.
TEST(LinkHealthHistory, TheChartCarriesThePbErrorRateAndSaysIt) {
    const MacAddress one{{0, 0, 0, 0, 0, 1}};
    const MacAddress two{{0, 0, 0, 0, 0, 2}};
    for (const char* language : {"English.xml", "German.xml"}) {
        SimulatedProgram program(SimulatedProgram::builtInNetwork(), language);
        app::LinkHistory history(program.path("links.db"));
        ASSERT_TRUE(history.open());
        const std::time_t now = 1733745600;
        for (int i = 0; i < 3; ++i) {
            app::HistoryScan scan;
            scan.when = now - 3600 + 600 * i;
            app::HistoryLinkRow row{one, two, 100, 90, true};
            if (i > 0)
                row.pbErrorRate = i == 1 ? 0.02 : 0.005;
            scan.links.push_back(row);
            ASSERT_TRUE(history.append(scan));
        }
        app::LinkChart chart;
        ASSERT_TRUE(app::buildLinkChart(history, one, two, app::ChartSpan::Day, now, chart));
        ASSERT_EQ(chart.series.samples.size(), 3u);
        EXPECT_DOUBLE_EQ(chart.worstPbErrorRate.value_or(-1), 0.02);
        EXPECT_DOUBLE_EQ(chart.lastPbErrorRate.value_or(-1), 0.005);
        const std::string words =
            app::chartDescription(program.texts, chart, [](const MacAddress& m) { return m.text(); }, false);
        const std::string expected = fillPlaceholders(
            program.texts.LoadPageCaption("ZRQ406", "Messages", app::kChartPbErrorFigures, "Text"), {"2.00 %", "0.50 %"});
        EXPECT_NE(expected.find("2.00 %"), std::string::npos) << language;
        EXPECT_NE(words.find(expected), std::string::npos) << words;
    }
}
