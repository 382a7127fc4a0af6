#include "mme/confirmations.h"
#include "mme/frame_builder.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace zrq406;
using namespace zrq406::mme;

namespace {

const MacAddress kHost{{0x02, 0x00, 0x00, 0xAA, 0xBB, 0xCC}};
const MacAddress kDevice{{0x00, 0xB0, 0x52, 0x11, 0x22, 0x33}};

Frame confirmation(MmType request, std::size_t length) {
    return makeFrame(length, kHost, kDevice, confirmationOf(request));
}

Frame versionConfirm(const std::string& text) {
    Frame f = confirmation(MmType::SoftwareVersion, std::max<std::size_t>(60, 24 + text.size()));
    f[off::kSwVersionLength] = static_cast<std::uint8_t>(text.size() + 1);
    std::memcpy(f.data() + off::kSwVersion, text.data(), text.size());
    return f;
}

Frame networkInfo(std::uint8_t networks, std::uint8_t claimed, std::uint8_t carried) {
    Frame f = confirmation(MmType::NetworkInfo, std::max<std::size_t>(60, 39 + 15u * carried));
    f[off::kNiNetworks] = networks;
    f[off::kNiStationCount] = claimed;
    for (std::uint8_t i = 0; i < carried; ++i) {
        const std::size_t at = 39 + 15u * i;
        f[at] = 0x00;
        f[at + 5] = static_cast<std::uint8_t>(0x10 + i);
        f[at + 6] = static_cast<std::uint8_t>(2 + i);
        f[at + 13] = 64;
        f[at + 14] = 61;
    }
    return f;
}

} // namespace

TEST(Confirmations, MatchingChecksTypeEthertypeAndOptionalDestination) {
    Frame f = versionConfirm("ZRQPLC1");
    EXPECT_TRUE(matchesConfirmation(f, 0xA001, &kHost));
    EXPECT_TRUE(matchesConfirmation(f, 0xA001, nullptr));
    EXPECT_FALSE(matchesConfirmation(f, 0xA039, nullptr));
    const MacAddress otherHost{{0x02, 0, 0, 0, 0, 9}};
    EXPECT_FALSE(matchesConfirmation(f, 0xA001, &otherHost)); // another PC's answer
    EXPECT_TRUE(matchesConfirmation(f, 0xA001, nullptr));
    f[12] = 0x08;
    EXPECT_FALSE(matchesConfirmation(f, 0xA001, nullptr));
    EXPECT_FALSE(matchesConfirmation(std::span(f).first(16), 0xA001, nullptr));
}

TEST(Confirmations, SoftwareVersion) {
    const auto ok = parseSoftwareVersion(versionConfirm("ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712"));
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->status, 0);
    EXPECT_EQ(ok->source, kDevice);
    EXPECT_EQ(ok->version, "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");

    // A text that runs to the end of the frame without a terminator is no answer.
    Frame unterminated = confirmation(MmType::SoftwareVersion, 60);
    std::memset(unterminated.data() + 23, 'x', 60 - 23);
    EXPECT_FALSE(parseSoftwareVersion(unterminated));
    const Frame shortOne = versionConfirm("x");
    EXPECT_FALSE(parseSoftwareVersion(std::span(shortOne).first(20)));
}

TEST(Confirmations, FullAnswersOfDevicesReadAsTheShortFormsDo) {
    // The version in its 128-byte field, then the upgrade flag and the cookie: the longest text ends at 150.
    Frame version = confirmation(MmType::SoftwareVersion, 156);
    const std::string longest(127, 'v');
    std::memcpy(version.data() + off::kSwVersion, longest.data(), longest.size());
    version[151] = 1;
    putU32le(version, 152, 0xFFFFFFFF);
    const auto v = parseSoftwareVersion(version);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->version, longest);
    version[150] = 'v'; // a field without its terminator is no answer, whatever follows it
    EXPECT_FALSE(parseSoftwareVersion(version));

    // The whole attribute block: the software platform text follows at 45 when the platform text is shorter.
    Frame attributes = confirmation(MmType::Attributes, 29 + 80);
    putU16le(attributes, 27, 80);
    std::memcpy(attributes.data() + 29, "ZRQPLC1", 7);
    std::memcpy(attributes.data() + 45, "SOFTWARE", 8);
    const auto a = parseAttributes(attributes);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->platform, "ZRQPLC1");
}

TEST(Confirmations, ReadModuleNeedsTheRequestedBytes) {
    Frame f = confirmation(MmType::ReadModule, 36 + 1024);
    f[36] = 0xAB;
    const auto ok = parseReadModule(f, 1024);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->data.size(), 1024u);
    EXPECT_EQ(ok->data[0], 0xAB);
    EXPECT_FALSE(parseReadModule(std::span(f).first(36 + 1023), 1024));
    f[off::kStatus] = 0x14;
    const auto failed = parseReadModule(std::span(f).first(21), 1024);
    ASSERT_TRUE(failed); // a failing status needs no data
    EXPECT_EQ(failed->status, 0x14);
    EXPECT_FALSE(parseReadModule(std::span(f).first(20), 1024));
}

TEST(Confirmations, AttributesPlatformText) {
    Frame f = confirmation(MmType::Attributes, 60);
    std::memcpy(f.data() + 29, "ZRQPLC1", 7);
    auto a = parseAttributes(f);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->platform, "ZRQPLC1");
    std::memset(f.data() + 29, 'P', 17); // a full field without a zero is 17 characters, never more
    f[46] = 'Q';
    a = parseAttributes(f);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->platform, std::string(17, 'P'));
    EXPECT_FALSE(parseAttributes(std::span(f).first(45)));
    f[20] = 1;
    EXPECT_EQ(parseAttributes(std::span(f).first(22))->status, 1);
}

TEST(Confirmations, NetworkInfoStationsAndLyingCounts) {
    const auto two = parseNetworkInfo(networkInfo(1, 2, 2));
    ASSERT_TRUE(two);
    ASSERT_EQ(two->stations.size(), 2u);
    EXPECT_EQ(two->stations[1].mac.bytes[5], 0x11);
    EXPECT_EQ(two->stations[1].tei, 3);
    EXPECT_EQ(two->stations[0].averageTxRate, 64);
    EXPECT_EQ(two->stations[0].averageRxRate, 61);

    // More stations claimed than the frame carries: no answer.
    EXPECT_FALSE(parseNetworkInfo(networkInfo(1, 5, 2)));
    EXPECT_FALSE(parseNetworkInfo(networkInfo(1, 255, 1)));

    // No network: no station data at all, even though the bytes are there.
    const auto none = parseNetworkInfo(networkInfo(0, 2, 2));
    ASSERT_TRUE(none);
    EXPECT_EQ(none->networks, 0);
    EXPECT_TRUE(none->stations.empty());

    // Cut inside the network fields.
    const Frame f = networkInfo(1, 0, 0);
    EXPECT_FALSE(parseNetworkInfo(std::span(f).first(30)));
    EXPECT_TRUE(parseNetworkInfo(std::span(f).first(39)));
}

TEST(Confirmations, NetworkInfoListsEachOtherStationOnce) {
    // Listed: 1, the answering device itself, 1 again with other rates, broadcast, 2.
    Frame f = networkInfo(1, 5, 5);
    const auto put = [&](int i, const MacAddress& mac) { std::memcpy(f.data() + 39 + 15 * i, mac.data(), 6); };
    put(1, kDevice);
    put(2, *MacAddress::parse("00:00:00:00:00:10"));
    f[39 + 15 * 2 + 13] = 1;
    put(3, MacAddress::broadcast());
    const auto info = parseNetworkInfo(f);
    ASSERT_TRUE(info);
    ASSERT_EQ(info->stations.size(), 2u);
    EXPECT_EQ(info->stations[0].mac.text(), "00:00:00:00:00:10");
    EXPECT_EQ(info->stations[0].averageTxRate, 64); // the first entry stands
    EXPECT_EQ(info->stations[1].mac.text(), "00:00:00:00:00:14");
}

TEST(Confirmations, StatusOnly) {
    Frame f = confirmation(MmType::CommitModules, 60);
    EXPECT_EQ(parseStatus(f), 0);
    f[20] = 7;
    EXPECT_EQ(parseStatus(f), 7);
    EXPECT_FALSE(parseStatus(std::span(f).first(20)));
}

namespace {

// The push button's confirmation as a device sends it: no OUI, status and membership from byte 17, padded.
Frame pushButtonConfirm(std::uint8_t status, std::uint8_t membership) {
    Frame f = makeStandardFrame(60, kHost, kDevice, confirmationOf(MmType::PushButton));
    f[17] = status;
    f[18] = membership;
    return f;
}

Frame hostsConfirm(std::uint32_t claimed, std::uint32_t carried) {
    Frame f = confirmation(MmType::Hosts, std::max<std::size_t>(60, 25 + 7u * carried));
    putU32le(f, 21, claimed);
    for (std::uint32_t i = 0; i < carried; ++i) {
        const std::size_t at = 25 + 7u * i;
        const std::uint8_t mac[6] = {0x3C, 0x52, 0x82, 0x00, 0x00, static_cast<std::uint8_t>(0x10 + i)};
        std::memcpy(f.data() + at, mac, 6);
        f[at + 6] = static_cast<std::uint8_t>(i + 1);
    }
    return f;
}

} // namespace

TEST(Confirmations, PushButtonRequestAndAnswerKeepTheStandardLayoutWithoutOui) {
    const Frame request = buildPushButtonRequest(kDevice, kHost, PushButtonAction::Leave);
    ASSERT_EQ(request.size(), 18u);
    EXPECT_EQ(request[14], 0);
    EXPECT_EQ(request[15], 0x00);
    EXPECT_EQ(request[16], 0x80);
    EXPECT_EQ(request[17], 2); // the action where a vendor message has its OUI

    Frame answer = pushButtonConfirm(0, 8);
    const auto coordinator = parsePushButton(answer);
    ASSERT_TRUE(coordinator);
    EXPECT_EQ(coordinator->status, 0);
    EXPECT_EQ(coordinator->membership, 8);
    EXPECT_TRUE(coordinator->associated());
    EXPECT_FALSE(parsePushButton(pushButtonConfirm(0, 3))->associated());
    EXPECT_TRUE(answersRequest(answer, request, &kHost, &kDevice));
    // A padded answer's byte 20 is zero; the status that counts is the one at 17.
    answer[17] = 1;
    EXPECT_EQ(parsePushButton(answer)->status, 1);
    EXPECT_TRUE(answersRequest(answer, request, &kHost, &kDevice));
    // Cut before its membership state it answers nothing, and is nothing to read.
    EXPECT_FALSE(answersRequest(std::span(answer).first(18), request, &kHost, &kDevice));
    EXPECT_FALSE(parsePushButton(std::span(answer).first(18)));
    // The confirmation of another message is no answer to it.
    EXPECT_FALSE(answersRequest(confirmation(MmType::Restart, 60), request, &kHost, &kDevice));
}

TEST(Confirmations, RestartAndHostsAnswers) {
    const Frame restart = buildRestartRequest(kDevice, kHost);
    ASSERT_EQ(restart.size(), 20u);
    EXPECT_EQ(restart[15], 0x1C);
    EXPECT_EQ(restart[16], 0xA0);
    EXPECT_EQ(restart[17], 0x00);
    EXPECT_EQ(restart[18], 0xB0);
    EXPECT_EQ(restart[19], 0x52);
    Frame restarted = confirmation(MmType::Restart, 60);
    EXPECT_TRUE(answersRequest(restarted, restart, &kHost, &kDevice));
    EXPECT_EQ(parseStatus(restarted), 0);

    const Frame ask = buildHostsRequest(kDevice, kHost);
    EXPECT_EQ(ask[15], 0xDC);
    EXPECT_EQ(ask[16], 0xA0);
    const Frame three = hostsConfirm(3, 3);
    EXPECT_TRUE(answersRequest(three, ask, &kHost, &kDevice));
    const auto hosts = parseHosts(three);
    ASSERT_TRUE(hosts);
    ASSERT_EQ(hosts->hosts.size(), 3u);
    EXPECT_EQ(hosts->hosts[2].mac.text(), "3c:52:82:00:00:12");
    EXPECT_EQ(hosts->hosts[2].id, 3);
    ASSERT_TRUE(parseHosts(hostsConfirm(0, 0)));
    EXPECT_TRUE(parseHosts(hostsConfirm(0, 0))->hosts.empty());
    // Six entries fit a 60-byte frame only partly: a count beyond what the frame holds is no answer, whether it
    // overruns by one entry or claims four thousand million.
    EXPECT_FALSE(parseHosts(hostsConfirm(6, 5)));
    EXPECT_FALSE(parseHosts(hostsConfirm(0xFFFFFFFFu, 3)));
    EXPECT_FALSE(parseHosts(std::span(three).first(24)));
    Frame refused = hostsConfirm(0xFFFFFFFFu, 0);
    refused[20] = 1;
    ASSERT_TRUE(parseHosts(refused));
    EXPECT_EQ(parseHosts(refused)->status, 1);
}
