#include "mme/confirmations.h"
#include "scripted_link.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace zrq406;
using namespace zrq406::mme;
using test::ScriptedLink;

namespace {
const MacAddress kOtherHost{{0x02, 0x00, 0x00, 0x00, 0x00, 0x99}};
}

TEST(Exchange, FramesOfOtherTypesAreDroppedAndTheConfirmationStillFound) {
    ScriptedLink link;
    link.setResponder([](const Frame&) {
        return std::vector<Frame>{test::statusConfirm(ScriptedLink::kLocal, MmType::FactoryReset, 0),
                                  test::attributesConfirm(ScriptedLink::kLocal, "ZRQPLC1"),
                                  test::versionConfirm(ScriptedLink::kLocal, "ZRQPLC1-MAC-1")};
    });
    const auto frame = link.exchange().run(buildSoftwareVersionRequest(ScriptedLink::kLocal, ScriptedLink::kHost),
                                           MmType::SoftwareVersion, timing::kSoftwareVersion);
    ASSERT_TRUE(frame);
    EXPECT_EQ(parseSoftwareVersion(*frame)->version, "ZRQPLC1-MAC-1");
    // What the exchange dropped on its way is gone: nothing is left for the next one.
    std::vector<std::uint8_t> left;
    EXPECT_EQ(link.adapters().FetchFrame(left), 0u);
}

TEST(Exchange, StaleConfirmationIsDrainedBeforeTheRequest) {
    ScriptedLink link;
    // A late answer to an earlier request waits in the slots; the device then stays silent.
    link.inject(test::statusConfirm(ScriptedLink::kLocal, MmType::CommitModules, 0));
    link.adapters().waitForFrame(Pacing::Clock::now() + std::chrono::seconds(2));
    EXPECT_FALSE(link.exchange().run(buildCommitRequest(ScriptedLink::kLocal, ScriptedLink::kHost, 2),
                                     MmType::CommitModules, timing::kCommit));
    EXPECT_EQ(link.sentOfType(MmType::CommitModules).size(), 1u);
}

TEST(Exchange, AnExchangeBegunWhileAnotherWaitsIsCounted) {
    ScriptedLink link;
    std::atomic<bool> first{true};
    link.setResponder([&](const Frame&) {
        // The first request is held on its way out until a second exchange has begun beside it.
        if (first.exchange(false)) {
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (link.exchange().overlaps() == 0 && std::chrono::steady_clock::now() < giveUp)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return std::vector<Frame>{};
    });
    const Frame request = buildFactoryResetRequest(ScriptedLink::kLocal, ScriptedLink::kHost);
    std::thread waiting([&] { link.exchange().run(request, MmType::FactoryReset, timing::kFactoryReset); });
    while (link.sent().empty())
        std::this_thread::yield();
    link.exchange().run(request, MmType::FactoryReset, timing::kFactoryReset);
    waiting.join();
    EXPECT_EQ(link.exchange().overlaps(), 1);
    // One after the other is no overlap.
    link.exchange().run(request, MmType::FactoryReset, timing::kFactoryReset);
    EXPECT_EQ(link.exchange().overlaps(), 1);
}

TEST(Exchange, NoConfirmationFailsAfterTheDeadline) {
    ScriptedLink link;
    EXPECT_FALSE(link.exchange().run(buildFactoryResetRequest(ScriptedLink::kLocal, ScriptedLink::kHost),
                                     MmType::FactoryReset, timing::kFactoryReset));
}

TEST(Exchange, DestinationCheckIgnoresAnotherHostsAnswerUnlessTheUpgradeToolAsks) {
    ScriptedLink link;
    link.setResponder([](const Frame&) {
        return std::vector<Frame>{test::versionConfirm(ScriptedLink::kLocal, "V", 0, kOtherHost)};
    });
    const Frame request = buildSoftwareVersionRequest(ScriptedLink::kLocal, ScriptedLink::kHost);
    EXPECT_FALSE(link.exchange().run(request, MmType::SoftwareVersion, timing::kSoftwareVersion));
    EXPECT_TRUE(link.exchange().runRetrying(request, MmType::SoftwareVersion));
}

TEST(Exchange, UpgradeToolResendsOnlyWhileNothingArrives) {
    ScriptedLink link;
    int requests = 0;
    link.setResponder([&](const Frame& request) {
        if (test::typeOf(request) != 0xA000 || ++requests < 3)
            return std::vector<Frame>{};
        return std::vector<Frame>{test::versionConfirm(ScriptedLink::kLocal, "V")};
    });
    const Frame request = buildSoftwareVersionRequest(ScriptedLink::kLocal, ScriptedLink::kHost);
    EXPECT_TRUE(link.exchange().runRetrying(request, MmType::SoftwareVersion));
    EXPECT_EQ(requests, 3);

    // A device that never answers gets exactly three requests.
    ScriptedLink silent;
    EXPECT_FALSE(silent.exchange().runRetrying(request, MmType::SoftwareVersion));
    EXPECT_EQ(silent.sentOfType(MmType::SoftwareVersion).size(), 3u);

    // Any frame at all ends the resending, even one of another type.
    ScriptedLink chatty;
    chatty.setResponder(
        [](const Frame&) { return std::vector<Frame>{test::attributesConfirm(ScriptedLink::kLocal, "X")}; });
    EXPECT_FALSE(chatty.exchange().runRetrying(request, MmType::SoftwareVersion));
    EXPECT_EQ(chatty.sentOfType(MmType::SoftwareVersion).size(), 1u);
}

TEST(Exchange, FailingStatusEndsTheOperationAsFailed) {
    ScriptedLink link;
    link.setResponder([](const Frame& request) {
        // First a failing confirmation, then a good one: the first one found decides.
        return std::vector<Frame>{test::statusConfirm(ScriptedLink::kLocal, MmType::FactoryReset, 1),
                                  test::statusConfirm(ScriptedLink::kLocal, MmType::FactoryReset, 0)};
        (void)request;
    });
    EXPECT_FALSE(link.operations().FactoryReset(ScriptedLink::kLocal));
}

// After the adapters were reopened with fewer of them, the current index may name no record any more.
TEST(Exchange, WithoutAValidCurrentAdapterEveryOperationFailsAndNothingIsSent) {
    ScriptedLink link;
    link.setResponder([](const Frame& request) {
        return std::vector<Frame>{test::versionConfirm(ScriptedLink::kLocal, "V"),
                                  test::statusConfirm(ScriptedLink::kLocal, MmType::FactoryReset, 0)};
        (void)request;
    });
    const Frame version = buildSoftwareVersionRequest(ScriptedLink::kLocal, ScriptedLink::kHost);
    for (const int stale : {3, 1, -1}) {
        SCOPED_TRACE(stale);
        link.adapters().setCurrentAdapter(stale);
        EXPECT_FALSE(link.exchange().run(version, MmType::SoftwareVersion, timing::kSoftwareVersion));
        EXPECT_FALSE(link.exchange().runRetrying(version, MmType::SoftwareVersion));
        LocalNetworkRecord record;
        EXPECT_FALSE(link.discovery().QuerySoftwareVersion(nullptr, record));
        EXPECT_FALSE(link.discovery().QuerySoftwareVersion(&ScriptedLink::kLocal, record, true));
        EXPECT_FALSE(link.discovery().QueryAttributes(ScriptedLink::kLocal, record));
        EXPECT_FALSE(link.discovery().QueryNetworkInfo(ScriptedLink::kLocal));
        DiscoveryResult result;
        EXPECT_FALSE(link.discovery().ScanNetwork(stale, result));
        EXPECT_FALSE(link.discovery().QueryDevice(stale, nullptr, result.local));
        auto& operations = link.operations();
        EXPECT_FALSE(operations.FactoryReset(ScriptedLink::kLocal));
        EXPECT_FALSE(operations.SetKey(Key{}, nullptr, nullptr));
        ConfigBlock block{};
        EXPECT_FALSE(operations.ReadConfigBlock(ScriptedLink::kLocal, block));
        EXPECT_FALSE(operations.WriteModule(kModuleConfig, 0, 0, ScriptedLink::kLocal, std::span(block).first(64)));
        EXPECT_FALSE(operations.Commit(ScriptedLink::kLocal, kCommitConfigOnly));
        std::array<std::uint8_t, kQosLength> qos{};
        EXPECT_EQ(operations.ReadQosBlock(ScriptedLink::kLocal, qos), ReadResult::NoAnswer);
        EXPECT_TRUE(link.sent().empty());
    }

    // Closing leaves no adapter current either; opening again finds the one that was.
    link.adapters().setCurrentAdapter(0);
    link.adapters().CloseAdapters();
    EXPECT_FALSE(link.exchange().run(version, MmType::SoftwareVersion, timing::kSoftwareVersion));
    EXPECT_TRUE(link.sent().empty());
    ASSERT_TRUE(link.adapters().OpenAdapters());
    EXPECT_TRUE(link.exchange().run(version, MmType::SoftwareVersion, timing::kSoftwareVersion));
}

TEST(Exchange, AnAnswerIsTakenOnlyFromTheDeviceAskedAndForTheBlockAsked) {
    const MacAddress stationA{{0x00, 0xB0, 0x52, 0x00, 0x20, 0x0A}};
    const MacAddress stationB{{0x00, 0xB0, 0x52, 0x00, 0x20, 0x0B}};
    ScriptedLink link;
    // A's late answer arrives while B is asked; B itself stays silent.
    link.setResponder([&](const Frame&) { return std::vector<Frame>{test::versionConfirm(stationA, "A-FIRMWARE")}; });
    EXPECT_FALSE(link.exchange().run(buildSoftwareVersionRequest(stationB, ScriptedLink::kHost),
                                     MmType::SoftwareVersion, timing::kSoftwareVersion));

    // A read answer echoing another offset answers another request; one with the short form's zero echo is taken.
    const Frame read = buildReadModuleRequest(stationA, ScriptedLink::kHost, kModuleConfig, 1024, 2048);
    Frame answer = test::confirmTo(stationA, MmType::ReadModule, 36 + 1024);
    EXPECT_TRUE(answersRequest(answer, read, nullptr, &stationA));
    EXPECT_FALSE(answersRequest(answer, read, nullptr, &stationB));
    answer[off::kRdCnfModule] = kModuleConfig;
    putU16le(answer, off::kRdCnfLength, 1024);
    putU32le(answer, off::kRdCnfOffset, 1024);
    EXPECT_FALSE(answersRequest(answer, read, nullptr, &stationA));
    putU32le(answer, off::kRdCnfOffset, 2048);
    EXPECT_TRUE(answersRequest(answer, read, nullptr, &stationA));
}

TEST(Exchange, QueriesInFlightTogetherKeepTheirOrderWhateverOrderTheAnswersCome) {
    std::vector<MacAddress> stations;
    for (std::uint8_t i = 0; i < 5; ++i)
        stations.push_back(MacAddress{{0x00, 0xB0, 0x52, 0x00, 0x30, i}});
    ScriptedLink link;
    std::vector<Frame> held;
    // Stations 0..3 answer only when the last request is out, in reverse order; station 4 is silent.
    link.setResponder([&](const Frame& request) {
        const MacAddress to = test::destinationOf(request);
        if (to != stations[4])
            held.insert(held.begin(), test::versionConfirm(to, "V-" + std::to_string(to.bytes[5])));
        return to == stations[4] ? held : std::vector<Frame>{};
    });
    std::vector<Frame> requests;
    for (const MacAddress& station : stations)
        requests.push_back(buildSoftwareVersionRequest(station, ScriptedLink::kHost));
    const auto answers = link.exchange().runAll(requests, timing::kSoftwareVersion);
    ASSERT_EQ(answers.size(), 5u);
    for (std::size_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(answers[i]) << i;
        EXPECT_EQ(parseSoftwareVersion(*answers[i])->version, "V-" + std::to_string(i));
    }
    EXPECT_FALSE(answers[4]);
}
