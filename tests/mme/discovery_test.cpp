#include "platform/text_field.h"
#include "scripted_link.h"

#include <gtest/gtest.h>
#include <set>

using namespace zrq406;
using namespace zrq406::mme;
using test::ScriptedLink;

namespace {

MacAddress station(std::uint8_t n) {
    return {{0x00, 0xB0, 0x52, 0x00, 0x20, n}};
}

// A small network: the local device answers on its own address and on the local-device address; stations in
// `answering` answer their own queries. The two network information answers may differ.
struct ScriptNetwork {
    std::vector<test::ScriptStation> firstInfo;
    std::vector<test::ScriptStation> secondInfo;
    std::set<MacAddress> answering;
    bool malformedSecond = false;
    int infoRequests = 0;

    ScriptedLink::Responder responder() {
        return [this](const Frame& request) -> std::vector<Frame> {
            const MacAddress to = test::destinationOf(request);
            const bool local = to == ScriptedLink::kLocal || to == MacAddress::localDevice();
            if (!local && !answering.count(to))
                return {};
            const MacAddress from = local ? ScriptedLink::kLocal : to;
            switch (test::typeOf(request)) {
            case 0xA000:
                return {test::versionConfirm(from, "ZRQPLC0-MAC-3-3-3348-00-2764-CE-0712")};
            case 0xA068:
                return {test::attributesConfirm(from, local ? "ZRQPLC1" : "ZRQPLC1-A1")};
            case 0xA038: {
                if (!local)
                    return {};
                const bool first = infoRequests++ == 0;
                auto frame = test::networkInfoConfirm(from, first ? firstInfo : secondInfo);
                if (!first && malformedSecond)
                    frame[38] = 200; // claims more stations than it carries
                return {frame};
            }
            default:
                return {};
            }
        };
    }
};

} // namespace

TEST(Discovery, ScanFindsLocalDeviceAndStationsInSecondAnswerOrder) {
    ScriptedLink link;
    ScriptNetwork net;
    net.firstInfo = {{station(1), 64}, {station(2), 61}, {station(3), 38}};
    net.secondInfo = {{station(3), 38}, {MacAddress::broadcast(), 90}, {station(1), 64}, {station(2), 61}};
    net.answering = {station(1), station(3)}; // station 2 does not answer its own queries
    link.setResponder(net.responder());

    DiscoveryResult result;
    ASSERT_TRUE(link.discovery().ScanNetwork(0, result));
    EXPECT_EQ(result.local.mac, ScriptedLink::kLocal);
    EXPECT_EQ(link.adapters().record(0).localDeviceMac, ScriptedLink::kLocal);
    // The 7-character chip word is replaced by the platform text.
    EXPECT_EQ(fieldText(result.local.text), "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
    // Station 2 is listed as not answering, not left out.
    ASSERT_EQ(result.local.stationCount, 3u);
    EXPECT_EQ(result.local.stations[0].mac, station(3));
    EXPECT_EQ(result.local.stations[1].mac, station(1));
    EXPECT_EQ(result.local.stations[1].transmitRate, 64u);
    EXPECT_EQ(result.local.stations[2].mac, station(2));
    EXPECT_FALSE(result.local.stations[2].answered);
    EXPECT_EQ(fieldText(result.local.stations[2].text), "");
    EXPECT_TRUE(result.local.stations[0].answered && result.local.stations[1].answered);
    // A longer platform text lengthens the text.
    EXPECT_EQ(fieldText(result.local.stations[0].text), "ZRQPLC1-A1-MAC-3-3-3348-00-2764-CE-0712");
    EXPECT_EQ(result.local.snid, 5);
    EXPECT_EQ(result.local.ccoMac, ScriptedLink::kLocal);
    // Every station got a probe frame before its version query.
    int probes = 0;
    for (const auto& f : link.sent())
        probes += f[12] == 0x08 && f[13] == 0x00;
    EXPECT_EQ(probes, 3);
}

TEST(Discovery, StationReportedTwiceIsOneStationInTheDiscoveryResult) {
    ScriptedLink link;
    ScriptNetwork net;
    net.firstInfo = {{station(1), 64}};
    net.secondInfo = {{station(1), 64}, {station(1), 64}};
    net.answering = {station(1)};
    link.setResponder(net.responder());
    DiscoveryResult result;
    ASSERT_TRUE(link.discovery().ScanNetwork(0, result));
    // A repeat would be a second device in every table and a link of the station to itself.
    EXPECT_EQ(result.local.stationCount, 1u);
}

TEST(Discovery, MalformedSecondAnswerKeepsTheFirstStationList) {
    ScriptedLink link;
    ScriptNetwork net;
    net.firstInfo = {{station(1), 64}, {station(2), 61}};
    net.secondInfo = net.firstInfo;
    net.answering = {station(1), station(2)};
    net.malformedSecond = true;
    link.setResponder(net.responder());
    DiscoveryResult result;
    ASSERT_TRUE(link.discovery().ScanNetwork(0, result));
    EXPECT_EQ(result.local.stationCount, 2u);
    EXPECT_EQ(result.local.stations[1].mac, station(2));
    // Asked again, the second answer stayed broken: the first answer's rates stand.
    EXPECT_EQ(net.infoRequests, 1 + Discovery::kNetworkInfoTries);
    EXPECT_EQ(result.local.stations[1].transmitRate, 61u);
}

TEST(Discovery, AdapterWithoutDeviceEndsAtOnce) {
    ScriptedLink link;
    DiscoveryResult result;
    EXPECT_FALSE(link.discovery().ScanNetwork(0, result));
    EXPECT_EQ(link.sent().size(), 1u);
    EXPECT_TRUE(result.local.mac.isZero());
}

TEST(Discovery, UpgradeToolQueryKeepsStationsThatAnswer) {
    ScriptedLink link;
    ScriptNetwork net;
    net.firstInfo = {{station(1), 64}, {MacAddress::broadcast(), 1}, {station(2), 61}};
    net.answering = {station(2)};
    link.setResponder(net.responder());
    LocalNetworkRecord record;
    ASSERT_TRUE(link.discovery().QueryDevice(0, nullptr, record));
    ASSERT_EQ(record.stationCount, 1u);
    EXPECT_EQ(record.stations[0].mac, station(2));
    EXPECT_EQ(record.stations[0].transmitRate, 61u);
}
