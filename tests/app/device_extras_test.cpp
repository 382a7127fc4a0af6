#include "app/device_extras.h"
#include "app/hardware_makers.h"
#include "app/scan_cycle.h"
#include "app/utility_flows.h"
#include "sim/network.h"
#include "tests/support/simulated_program.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>

using namespace zrq406;
using zrq406::test::SimulatedProgram;

namespace {

const MacAddress kLocal{{0x00, 0xb0, 0x52, 0x5a, 0x00, 0x01}};
const MacAddress kRemote{{0x00, 0xb0, 0x52, 0x5a, 0x00, 0x02}};
const MacAddress kNewcomer{{0x00, 0xb0, 0x52, 0x5a, 0x00, 0x07}};

// The built-in network with one more device, its pair button pressed, on a key of its own.
nlohmann::json networkWithNewcomer(bool pairing) {
    nlohmann::json network = SimulatedProgram::builtInNetwork();
    network["devices"].push_back({{"mac", kNewcomer.text()}, {"tei", 7}, {"networkPassword", "NotYetPaired"},
                                  {"pairing", pairing}});
    return network;
}

MacAddress mac(const char* text) {
    return *MacAddress::parse(text);
}

} // namespace

TEST(HardwareMakers, ReadsTheLargeAssignmentsOfTheRegistryListAndSkipsWhatIsNotOne) {
    SimulatedProgram program;
    const auto list = program.path("oui.csv");
    std::ofstream(list) << "Registry,Assignment,Organization Name,Organization Address\r\n"
                           "MA-L,DCA632,Raspberry Pi Trading Ltd,\"Maurice Wilkes Building, Cambridge GB\"\r\n"
                           "MA-L,F01898,\"Apple, Inc.\",1 Infinite Loop Cupertino CA US 95014\n"
                           "MA-L,3C2AF4,\"The \"\"Quoted\"\" Maker\",Somewhere\n"
                           "MA-M,ACED5C1,Medium Block Owner,Nowhere\n"
                           "MA-L,ZZ0000,Not Hex,Nowhere\n"
                           "MA-L,989BCB,\"Unclosed quote,Berlin\n"
                           "MA-L,0000\n"
                           "MA-L,ACED5C,   Intel Corporate  \x01,Kulim\n";
    app::HardwareMakers makers(list);
    EXPECT_EQ(makers.makerOf(mac("dc:a6:32:0a:1b:2c")), "Raspberry Pi Trading Ltd");
    EXPECT_EQ(makers.makerOf(mac("f0:18:98:3d:5e:11")), "Apple, Inc.");
    EXPECT_EQ(makers.makerOf(mac("3c:2a:f4:61:70:88")), "The \"Quoted\" Maker");
    EXPECT_EQ(makers.makerOf(mac("ac:ed:5c:4e:21:07")), "Intel Corporate");
    EXPECT_FALSE(makers.makerOf(mac("98:9b:cb:12:34:56")));
    EXPECT_FALSE(makers.makerOf(mac("00:b0:52:5a:00:01")));

    app::HardwareMakers none(program.path("missing.csv"));
    EXPECT_FALSE(none.makerOf(mac("dc:a6:32:0a:1b:2c")));
    app::HardwareMakers folder(program.dir());
    EXPECT_FALSE(folder.makerOf(mac("dc:a6:32:0a:1b:2c")));
}

TEST(DeviceExtras, JoinEndsAsSoonAsThePairingDeviceAppearsAndNamesIt) {
    SimulatedProgram program(networkWithNewcomer(true));
    ASSERT_TRUE(program.open());
    ASSERT_GE(app::findLocalDevice(program.session), 0);
    std::vector<int> left;
    const auto outcome = app::joinNetwork(program.session, std::nullopt, "Dec 09 12:00", [&](int seconds) {
        left.push_back(seconds);
        return true;
    });
    ASSERT_EQ(outcome.result, app::JoinOutcome::Joined);
    EXPECT_EQ(outcome.newStation, kNewcomer);
    EXPECT_FALSE(outcome.name.empty());
    ASSERT_FALSE(left.empty());
    EXPECT_EQ(left.front(), 120);
    EXPECT_GE(left.back(), 110); // found by the first search, five seconds in
    EXPECT_EQ(program.session.network()->device(kNewcomer)->nmk, program.session.network()->device(kLocal)->nmk);
}

TEST(DeviceExtras, JoinGivesUpAfterTheTwoMinutesCountingDownEverySecond) {
    SimulatedProgram program(networkWithNewcomer(false));
    ASSERT_TRUE(program.open());
    ASSERT_GE(app::findLocalDevice(program.session), 0);
    std::vector<int> left;
    const auto outcome = app::joinNetwork(program.session, kRemote, "Dec 09 12:00", [&](int seconds) {
        left.push_back(seconds);
        return true;
    });
    EXPECT_EQ(outcome.result, app::JoinOutcome::TimedOut);
    ASSERT_FALSE(left.empty());
    EXPECT_EQ(left.front(), 120);
    EXPECT_EQ(left.back(), 0);
    EXPECT_TRUE(std::is_sorted(left.rbegin(), left.rend()));
    // Once a second, but for the searches (whose answer waits the time scale shrinks less than the rest).
    EXPECT_GE(left.size(), 40u);

    // The caller may stop the wait; the press of a device out of reach is not confirmed.
    int calls = 0;
    EXPECT_EQ(app::joinNetwork(program.session, std::nullopt, "", [&](int) { return ++calls < 3; }).result,
              app::JoinOutcome::Stopped);
    EXPECT_EQ(app::joinNetwork(program.session, kNewcomer, "", {}).result, app::JoinOutcome::NotPressed);
}

TEST(DeviceExtras, RestartWaitsUntilTheDeviceAnswersAgainWithItsKeyAndName) {
    SimulatedProgram program;
    ASSERT_TRUE(program.open());
    ASSERT_GE(app::findLocalDevice(program.session), 0);
    const auto before = program.session.network()->device(kRemote);
    EXPECT_EQ(app::restartAndWait(program.session, kRemote), app::RestartResult::Done);
    const auto after = program.session.network()->device(kRemote);
    EXPECT_TRUE(after->up);
    EXPECT_EQ(after->configBlock, before->configBlock);
    EXPECT_EQ(app::restartAndWait(program.session, mac("00:b0:52:5a:00:99")), app::RestartResult::Refused);
}

TEST(DeviceExtras, HostsCarryTheirMakersWhereTheListNamesThem) {
    SimulatedProgram program;
    std::ofstream(program.path("oui.csv")) << "Registry,Assignment,Organization Name,Organization Address\n"
                                              "MA-L,ACED5C,Intel Corporate,Kulim\n";
    app::HardwareMakers makers(program.path("oui.csv"));
    ASSERT_TRUE(program.open());
    ASSERT_GE(app::findLocalDevice(program.session), 0);
    const auto list = app::hostsBehind(program.session, kLocal, makers);
    ASSERT_TRUE(list.answered);
    ASSERT_EQ(list.hosts.size(), 2u);
    EXPECT_EQ(list.hosts[0].mac.text(), "ac:ed:5c:4e:21:07");
    EXPECT_EQ(list.hosts[0].maker, "Intel Corporate");
    EXPECT_EQ(list.hosts[1].maker, ""); // not in this list: the MAC alone
    EXPECT_FALSE(app::hostsBehind(program.session, mac("00:b0:52:5a:00:99"), makers).answered);
}

TEST(DeviceExtras, HostsOfAllAreAskedTogetherAndASilentDeviceHasNoLine) {
    nlohmann::json network = SimulatedProgram::builtInNetwork();
    const MacAddress silent = mac("00:b0:52:5a:00:03");
    for (auto& device : network["devices"])
        if (device["mac"] == silent.text())
            device["faults"] = nlohmann::json::array({{{"kind", "drop"}, {"message", "hosts"}, {"share", 1}}});
    SimulatedProgram program(network);
    std::ofstream(program.path("oui.csv")) << "Registry,Assignment,Organization Name,Organization Address\n"
                                              "MA-L,ACED5C,Intel Corporate,Kulim\n";
    app::HardwareMakers makers(program.path("oui.csv"));
    ASSERT_TRUE(program.open());
    ASSERT_GE(app::findLocalDevice(program.session), 0);
    const auto hosts = app::readHostsOfAll(program.session, {kLocal, kRemote, silent}, makers);
    ASSERT_EQ(hosts.size(), 2u);
    EXPECT_FALSE(hosts.contains(silent));
    EXPECT_EQ(app::hostsText(hosts.at(kLocal), "Behind:", "None."),
              "Behind:\nac:ed:5c:4e:21:07 (Intel Corporate)\n98:9b:cb:12:34:56");
    EXPECT_EQ(app::hostsText(hosts.at(kRemote), "Behind:", "None."), "Behind:\ndc:a6:32:0a:1b:2c");
    // One that answers with no host says so; one that refuses, or does not answer, says nothing.
    EXPECT_EQ(app::hostsText(app::HostList{true, 0, {}}, "Behind:", "None."), "None.");
    EXPECT_EQ(app::hostsText(app::HostList{true, 1, {}}, "Behind:", "None."), "");
    EXPECT_EQ(app::hostsText(app::HostList{}, "Behind:", "None."), "");
    EXPECT_EQ(program.session.exchange().overlaps(), 0);
}

TEST(DeviceExtras, RemoveFromNetworkGivesTheDeviceAKeyOfItsOwn) {
    SimulatedProgram program;
    ASSERT_TRUE(program.open());
    ASSERT_GE(app::findLocalDevice(program.session), 0);
    const auto key = program.session.network()->device(kRemote)->nmk;
    EXPECT_TRUE(app::removeFromNetwork(program.session, kRemote));
    EXPECT_NE(program.session.network()->device(kRemote)->nmk, key);
    EXPECT_EQ(program.session.network()->device(kLocal)->nmk, key);
    EXPECT_FALSE(app::removeFromNetwork(program.session, mac("00:b0:52:5a:00:99")));
}
