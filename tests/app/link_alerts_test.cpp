#include "app/link_alerts.h"
#include "tests/support/simulated_program.h"

#include <gtest/gtest.h>
#include <tuple>

using namespace zrq406;
using zrq406::test::SimulatedProgram;

namespace {

constexpr std::time_t kNoon = 1733745600;
constexpr std::time_t kMinute = 60;
constexpr std::time_t kHour = 60 * kMinute;

MacAddress mac(int n) {
    return {{0x00, 0xB0, 0x52, 0x5A, 0x00, static_cast<std::uint8_t>(n)}};
}

// A scan of devices 1 and 2: the link 1 -> 2 at `rate`, the way back at 100.
app::HistoryScan pairScan(std::time_t when, std::uint32_t rate, const std::string& firmware = "FW-1") {
    app::HistoryScan scan;
    scan.when = when;
    scan.devices = {{mac(1), "Kitchen", firmware, true}, {mac(2), "Office", "FW-1", true}};
    scan.links = {{mac(1), mac(2), rate, rate, true}, {mac(2), mac(1), 100, 100, true}};
    return scan;
}

using Seen = std::tuple<app::AlertKind, std::time_t, MacAddress>;

std::vector<Seen> seen(const std::vector<app::Alert>& alerts) {
    std::vector<Seen> out;
    for (const app::Alert& a : alerts)
        out.emplace_back(a.kind, a.when, a.device);
    return out;
}

// Records `scans` and gives what a watch told after each, as a monitor would see them.
std::vector<app::Alert> recordWatched(app::LinkHistory& history, const std::vector<app::HistoryScan>& scans) {
    app::AlertWatch watch;
    EXPECT_TRUE(watch.start(history));
    std::vector<app::Alert> told;
    for (const app::HistoryScan& scan : scans) {
        EXPECT_TRUE(history.append(scan));
        std::vector<app::Alert> alerts;
        EXPECT_TRUE(watch.newest(history, alerts));
        told.insert(told.end(), alerts.begin(), alerts.end());
    }
    return told;
}

std::vector<app::Alert> slowOnly(const std::vector<app::Alert>& alerts) {
    std::vector<app::Alert> out;
    for (const app::Alert& a : alerts)
        if (a.kind == app::AlertKind::LinkSlow)
            out.push_back(a);
    return out;
}

std::vector<app::Alert> firmwareOnly(const std::vector<app::Alert>& alerts) {
    std::vector<app::Alert> out;
    for (const app::Alert& a : alerts)
        if (a.kind == app::AlertKind::FirmwareChanged)
            out.push_back(a);
    return out;
}

} // namespace

TEST(LinkAlerts, ASlowLinkIsRaisedAtItsThirdSlowScanAndAgainOnlyAfterRecovering) {
    SimulatedProgram program;
    app::LinkHistory history(program.path("links.db"));
    ASSERT_TRUE(history.open());
    std::vector<app::HistoryScan> scans;
    std::time_t t = kNoon;
    const auto add = [&](std::uint32_t rate, int count) {
        for (int i = 0; i < count; ++i, t += 10 * kMinute)
            scans.push_back(pairScan(t, rate));
    };
    add(100, 20);
    add(50, 2); // two slow scans raise nothing
    add(100, 1);
    const std::time_t first = t + 2 * 10 * kMinute;
    add(50, 5); // raised once, at the third
    add(59, 1); // still below 60 % of the median: no recovery
    add(100, 1);
    const std::time_t second = t + 2 * 10 * kMinute;
    add(50, 3);

    const std::vector<app::Alert> told = slowOnly(recordWatched(history, scans));
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[0].when, first);
    EXPECT_EQ(told[1].when, second);
    EXPECT_EQ(told[0].device, mac(1));
    EXPECT_EQ(told[0].peer, mac(2));
    EXPECT_EQ(told[0].name, "Kitchen");
    EXPECT_EQ(told[0].rate, 50u);
    EXPECT_EQ(told[0].median, 100u);
    EXPECT_EQ(app::alertText(told[0]),
              "link 00:b0:52:5a:00:01 (Kitchen) -> 00:b0:52:5a:00:02 slow: 50 Mbit/s, median 100 Mbit/s");

    // The history tells the same alerts afterwards, and a period that begins inside a run does not raise it again.
    std::vector<app::Alert> listed;
    ASSERT_TRUE(app::historyAlerts(history, 0, t, listed));
    EXPECT_EQ(seen(slowOnly(listed)), seen(told));
    ASSERT_TRUE(app::historyAlerts(history, first + 10 * kMinute, t, listed));
    ASSERT_EQ(slowOnly(listed).size(), 1u);
    EXPECT_EQ(slowOnly(listed)[0].when, second);
}

TEST(LinkAlerts, TheMedianIsThatOfThePast24HoursOnly) {
    SimulatedProgram program;
    app::LinkHistory history(program.path("links.db"));
    ASSERT_TRUE(history.open());
    std::vector<app::HistoryScan> scans;
    // A day and a half ago the link ran at 1000 for six hours: more scans than the last day has.
    std::time_t t = kNoon - 30 * kHour;
    for (int i = 0; i < 40; ++i, t += 9 * kMinute)
        scans.push_back(pairScan(t, 1000));
    t = kNoon - 10 * kHour;
    for (int i = 0; i < 10; ++i, t += kHour)
        scans.push_back(pairScan(t, 100));
    // 80 is slow only against the old median, which is more than a day old by then.
    for (int i = 0; i < 3; ++i, t += 10 * kMinute)
        scans.push_back(pairScan(t, 80));
    scans.push_back(pairScan(t, 100));
    for (int i = 0; i < 3; ++i)
        scans.push_back(pairScan(t += 10 * kMinute, 50));

    // The fall from 1000 to 100 is slow while the old scans are within the day; the 80s are not, once they left it.
    const std::vector<app::Alert> told = slowOnly(recordWatched(history, scans));
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[0].when, kNoon - 8 * kHour);
    EXPECT_EQ(told[0].median, 1000u);
    EXPECT_EQ(told[1].when, t);
    EXPECT_EQ(told[1].median, 100u);
    std::vector<app::Alert> listed;
    ASSERT_TRUE(app::historyAlerts(history, 0, t, listed));
    EXPECT_EQ(seen(slowOnly(listed)), seen(told));
}

TEST(LinkAlerts, DevicesLostComingBackAndNew) {
    SimulatedProgram program;
    app::LinkHistory history(program.path("links.db"));
    ASSERT_TRUE(history.open());
    std::vector<app::HistoryScan> scans;
    scans.push_back(pairScan(kNoon, 100));
    scans.push_back(pairScan(kNoon + 100, 100));
    scans.back().devices[1].answered = false; // lost
    scans.push_back(pairScan(kNoon + 200, 100));
    scans.back().devices[1].answered = false; // still lost: not told again
    scans.push_back(pairScan(kNoon + 300, 100));
    scans.back().devices.push_back({mac(3), "Garage", "FW-2", true}); // back, and a new one
    scans.push_back(pairScan(kNoon + 400, 100));
    scans.back().devices.pop_back(); // not in the scan at all: lost
    scans.back().devices.push_back({mac(3), "Garage", "FW-2", true});

    const std::vector<Seen> expected = {
        {app::AlertKind::DeviceNew, kNoon, mac(1)},        {app::AlertKind::DeviceNew, kNoon, mac(2)},
        {app::AlertKind::DeviceLost, kNoon + 100, mac(2)}, {app::AlertKind::DeviceNew, kNoon + 300, mac(3)},
        {app::AlertKind::DeviceLost, kNoon + 400, mac(2)},
    };
    const std::vector<app::Alert> told = recordWatched(history, scans);
    EXPECT_EQ(seen(told), expected);
    EXPECT_EQ(app::alertText(told[2]), "device 00:b0:52:5a:00:02 (Office) stopped answering");

    std::vector<app::Alert> listed;
    ASSERT_TRUE(app::historyAlerts(history, 0, kNoon + 400, listed));
    EXPECT_EQ(seen(listed), expected);
    // A period that begins with the lost scan still compares it with the scan before.
    ASSERT_TRUE(app::historyAlerts(history, kNoon + 100, kNoon + 100, listed));
    EXPECT_EQ(seen(listed), std::vector<Seen>(expected.begin() + 2, expected.begin() + 3));
}

TEST(LinkAlerts, AFirmwareChangeIsToldOnceByTheWatch) {
    SimulatedProgram program;
    app::LinkHistory history(program.path("links.db"));
    ASSERT_TRUE(history.open());
    ASSERT_TRUE(history.append(pairScan(kNoon, 100, "FW-1")));

    // A watch started before the scan that brings the change tells it; an unanswered scan without firmware text
    // in between is no change.
    app::HistoryScan silent = pairScan(kNoon + 200, 100, "");
    silent.devices[0].answered = false;
    const std::vector<app::Alert> told =
        recordWatched(history, {pairScan(kNoon + 100, 100, "FW-2"), silent, pairScan(kNoon + 300, 100, "FW-2"),
                                pairScan(kNoon + 400, 100, "FW-1")});
    const std::vector<app::Alert> changes = firmwareOnly(told);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].when, kNoon + 100);
    EXPECT_EQ(changes[0].device, mac(1));
    EXPECT_EQ(changes[0].before, "FW-1");
    EXPECT_EQ(changes[0].after, "FW-2");
    EXPECT_EQ(changes[1].when, kNoon + 400);
    EXPECT_EQ(app::alertText(changes[1]), "device 00:b0:52:5a:00:01 (Kitchen) firmware changed: FW-2 -> FW-1");
    EXPECT_EQ(app::alertKindName(changes[1].kind), "firmware_changed");

    // The history lists the same changes, in time order with the other alerts; a period that begins after the
    // first change still knows what the device ran before the second.
    std::vector<app::Alert> listed;
    ASSERT_TRUE(app::historyAlerts(history, 0, kNoon + 400, listed));
    EXPECT_EQ(seen(firmwareOnly(listed)), seen(changes));
    EXPECT_EQ(listed.back().kind, app::AlertKind::FirmwareChanged);
    ASSERT_TRUE(app::historyAlerts(history, kNoon + 200, kNoon + 400, listed));
    const std::vector<app::Alert> later = firmwareOnly(listed);
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(later[0].when, kNoon + 400);
    EXPECT_EQ(later[0].name, "Kitchen");
    EXPECT_EQ(later[0].before, "FW-2");
    EXPECT_EQ(later[0].after, "FW-1");
}
