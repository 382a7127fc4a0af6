#include "link/adapter_link.h"
#include "link/capture_file.h"
#include "platform/text_field.h"
#include "tests/link/link_test_support.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>
#include <unistd.h>

namespace zrq406::link {
namespace {

using test::Endpoint;
using test::makeFrame;
using test::ScriptedBackend;

const std::string kPrefix = kAdapterNamePrefix;

// Simulated adapters, each on a segment of its own with one scripted station, and a table over them.
struct Harness {
    explicit Harness(int adapterCount, LinkMode mode = LinkMode::Utility, std::vector<SimHostAdapter> custom = {})
        : adapters(custom.empty() ? makeAdapters(adapterCount) : std::move(custom)),
          backend(std::make_shared<ScriptedBackend>(adapters)), library(backend), table(library, mode) {
        for (const SimHostAdapter& adapter : adapters)
            stations.push_back(std::make_unique<Endpoint>(adapter.segment));
    }

    static std::vector<SimHostAdapter> makeAdapters(int count) {
        std::vector<SimHostAdapter> list;
        for (int i = 0; i < count; ++i)
            list.push_back(test::simAdapter("sim" + std::to_string(i), static_cast<std::uint8_t>(0x10 + i)));
        return list;
    }

    // Transmits `frame` from the station on adapter `index` and waits until the library has stored it.
    void arrive(int index, const std::vector<std::uint8_t>& frame) {
        const std::uint64_t before = library.completions();
        stations[static_cast<std::size_t>(index)]->transmit(frame);
        ASSERT_TRUE(test::waitForCompletions(library, before + 1));
    }

    std::vector<std::vector<std::uint8_t>> fetchAll() {
        std::vector<std::vector<std::uint8_t>> frames;
        std::vector<std::uint8_t> frame;
        while (table.FetchFrame(frame) > 0)
            frames.push_back(frame);
        return frames;
    }

    int pendingSlots(int index) {
        int pending = 0;
        for (const ReceiveSlot& slot : table.record(index).slots)
            pending += slot.io.pending.load() ? 1 : 0;
        return pending;
    }

    std::vector<SimHostAdapter> adapters;
    std::shared_ptr<ScriptedBackend> backend;
    PacketLibrary library;
    AdapterTable table;
    std::vector<std::unique_ptr<Endpoint>> stations;
};

// A frame whose bytes from 14 on tell it apart by `tag`.
std::vector<std::uint8_t> tagged(std::uint16_t tag, std::size_t length = 60) {
    auto frame = makeFrame(length);
    frame[14] = static_cast<std::uint8_t>(tag >> 8);
    frame[15] = static_cast<std::uint8_t>(tag & 0xFF);
    return frame;
}

std::uint16_t tagOf(const std::vector<std::uint8_t>& frame) {
    return frame.size() < 16 ? 0xFFFF : static_cast<std::uint16_t>(frame[14] << 8 | frame[15]);
}

TEST(AdapterTable, OpensEveryMatchedAdapterWithItsTextAddressAndArmedSlots) {
    Harness h(2);
    std::vector<std::string> texts{"stale"};
    ASSERT_EQ(h.table.ListAdapters(texts), 2);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], h.adapters[0].description + kPrefix + "sim0");
    EXPECT_EQ(texts[1], h.adapters[1].description + kPrefix + "sim1");
    for (int i = 0; i < 2; ++i) {
        const AdapterRecord& record = h.table.record(i);
        EXPECT_NE(record.handle, kInvalidHandle);
        EXPECT_EQ(record.hostMac, h.adapters[static_cast<std::size_t>(i)].mac);
        EXPECT_EQ(record.interfaceName, "sim" + std::to_string(i));
        EXPECT_EQ(h.pendingSlots(i), kSlotsPerAdapter);
        for (const ReceiveSlot& slot : record.slots)
            EXPECT_EQ(slot.area.capacity, kPacketAreaCapacity);
    }
    EXPECT_EQ(h.table.findInterface("sim1"), 1);
    EXPECT_EQ(h.table.findInterface("sim0"), 0);
    EXPECT_EQ(h.table.findInterface("sim2"), -1);
}

TEST(AdapterTable, ReceivesManagementFramesForAnyAddressButNothingElse) {
    Harness h(1);
    ASSERT_TRUE(h.table.OpenAdapters());
    // The card is promiscuous: a frame for another station's address still arrives.
    const MacAddress elsewhere{{0x02, 0x11, 0x22, 0x33, 0x44, 0x55}};
    h.stations[0]->transmit(makeFrame(60, 0x0800, 1));
    h.stations[0]->transmit(makeFrame(60, 0x86DD, 2));
    h.arrive(0, makeFrame(70, 0x88E1, 3, elsewhere));
    std::vector<std::uint8_t> frame;
    ASSERT_EQ(h.table.FetchFrame(frame), 70u);
    EXPECT_EQ(frame, makeFrame(70, 0x88E1, 3, elsewhere));
    EXPECT_EQ(h.table.FetchFrame(frame), 0u);
    EXPECT_TRUE(frame.empty());
}

TEST(AdapterTable, SendFramePadsShortFramesWithZerosAndRefusesOverlongOnes) {
    Harness h(2);
    ASSERT_TRUE(h.table.OpenAdapters());
    h.table.setCurrentAdapter(1);
    const auto shortFrame = makeFrame(20, 0x88E1, 0x33);
    h.table.SendFrame(shortFrame);
    h.table.SendFrame(makeFrame(1514, 0x88E1, 4));
    h.table.SendFrame(makeFrame(1515, 0x88E1, 5));
    h.table.SendFrame(makeFrame(60, 0x88E1, 6));

    EXPECT_TRUE(h.stations[0]->received().empty());
    const auto sent = h.stations[1]->received();
    ASSERT_EQ(sent.size(), 3u);
    ASSERT_EQ(sent[0].size(), 60u);
    EXPECT_TRUE(std::equal(shortFrame.begin(), shortFrame.end(), sent[0].begin()));
    EXPECT_TRUE(std::all_of(sent[0].begin() + 20, sent[0].end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(sent[1], makeFrame(1514, 0x88E1, 4));
    EXPECT_EQ(sent[2], makeFrame(60, 0x88E1, 6));
}

TEST(AdapterTable, SendAndFetchWithoutAnOpenAdapterDoNothing) {
    Harness h(1);
    h.table.SendFrame(makeFrame(60));
    std::vector<std::uint8_t> frame;
    EXPECT_EQ(h.table.FetchFrame(frame), 0u);
    EXPECT_EQ(h.table.PollReceiveSlots(), nullptr);
    h.table.ArmReceiveSlots(0);
    EXPECT_TRUE(h.stations[0]->received().empty());
}

TEST(AdapterTable, FramesAreHandedOutInSlotOrderNotArrivalOrder) {
    Harness h(1);
    ASSERT_TRUE(h.table.OpenAdapters());
    for (std::uint16_t i = 0; i < kSlotsPerAdapter - 1; ++i)
        h.arrive(0, tagged(i));
    std::vector<std::uint8_t> frame;
    ASSERT_GT(h.table.FetchFrame(frame), 0u);
    EXPECT_EQ(tagOf(frame), 0);
    // Slot 0 is armed again behind slot 511: the next two frames land in 511 and then in 0.
    h.arrive(0, tagged(1000));
    h.arrive(0, tagged(1001));

    const auto frames = h.fetchAll();
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kSlotsPerAdapter));
    EXPECT_EQ(tagOf(frames[0]), 1001);
    for (std::size_t i = 1; i < kSlotsPerAdapter - 1; ++i)
        ASSERT_EQ(tagOf(frames[i]), i) << "at " << i;
    EXPECT_EQ(tagOf(frames.back()), 1000);
}

TEST(AdapterTable, AFrameOfAnotherAdapterIsDroppedAndTheLookThroughGoesOn) {
    Harness h(2);
    ASSERT_TRUE(h.table.OpenAdapters());
    h.table.setCurrentAdapter(1);
    // Record 0 comes first in the poll, so its frame is met before the current adapter's.
    h.arrive(0, tagged(7));
    h.arrive(1, tagged(8));
    std::vector<std::uint8_t> frame;
    ASSERT_EQ(h.table.FetchFrame(frame), 60u);
    EXPECT_EQ(tagOf(frame), 8);
    // The dropped frame's slot is armed again.
    EXPECT_EQ(h.pendingSlots(0), kSlotsPerAdapter);
    EXPECT_EQ(h.pendingSlots(1), kSlotsPerAdapter);
    EXPECT_EQ(h.table.FetchFrame(frame), 0u);

    // Only a foreign frame waiting: no frame, and nothing left behind.
    h.arrive(0, tagged(9));
    EXPECT_EQ(h.table.FetchFrame(frame), 0u);
    EXPECT_EQ(h.pendingSlots(0), kSlotsPerAdapter);
    h.table.setCurrentAdapter(0);
    EXPECT_EQ(h.table.FetchFrame(frame), 0u);
}

TEST(AdapterTable, AFetchThatFindsNothingLeavesAllReadsOutstandingAndNoneTwice) {
    Harness h(1);
    ASSERT_TRUE(h.table.OpenAdapters());
    AdapterRecord& record = h.table.record(0);
    for (const int slot : {3, 100, 511})
        h.library.PlcReleaseRead(record.handle, &record.slots[static_cast<std::size_t>(slot)].area);
    EXPECT_EQ(h.pendingSlots(0), kSlotsPerAdapter - 3);

    std::vector<std::uint8_t> frame;
    EXPECT_EQ(h.table.FetchFrame(frame), 0u);
    EXPECT_EQ(h.pendingSlots(0), kSlotsPerAdapter);
    h.table.ArmReceiveSlots(0);

    // Exactly 512 reads: a full burst fills each slot once and nothing is overwritten. The three slots armed
    // last take the last three frames, and the fetch hands everything out in slot order.
    for (std::uint16_t i = 0; i < kSlotsPerAdapter; ++i)
        h.arrive(0, tagged(i));
    const auto frames = h.fetchAll();
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kSlotsPerAdapter));
    std::uint16_t next = 0;
    for (std::size_t slot = 0; slot < frames.size(); ++slot) {
        const std::uint16_t expected = slot == 3 ? 509 : slot == 100 ? 510 : slot == 511 ? 511 : next++;
        ASSERT_EQ(tagOf(frames[slot]), expected) << "slot " << slot;
    }
    EXPECT_EQ(h.pendingSlots(0), kSlotsPerAdapter);
}

TEST(AdapterTable, ArmingLeavesASlotThatHoldsAnUntakenFrame) {
    Harness h(1);
    ASSERT_TRUE(h.table.OpenAdapters());
    h.arrive(0, tagged(1));
    h.table.ArmReceiveSlots(0);
    // Armed again, slot 0 would be filled anew once its turn came, over the frame nobody had taken yet.
    EXPECT_FALSE(h.table.record(0).slots[0].io.pending.load());
    h.arrive(0, tagged(2));
    const auto frames = h.fetchAll();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(tagOf(frames[0]), 1);
    EXPECT_EQ(tagOf(frames[1]), 2);
}

TEST(AdapterTable, PollMarksTheTakenSlotWithItsIndices) {
    Harness h(2);
    ASSERT_TRUE(h.table.OpenAdapters());
    h.arrive(1, tagged(1));
    h.arrive(1, tagged(2));
    PacketArea* first = h.table.PollReceiveSlots();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, &h.table.record(1).slots[0].area);
    EXPECT_EQ(first->adapterIndex, 1u);
    EXPECT_EQ(first->slotIndex, 0u);
    EXPECT_EQ(first->status.load(), kStatusPending);
    PacketArea* second = h.table.PollReceiveSlots();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->slotIndex, 1u);
    EXPECT_EQ(h.table.PollReceiveSlots(), nullptr);
}

TEST(AdapterTable, CloseAndReopenRebuildsTheTable) {
    Harness h(2);
    ASSERT_TRUE(h.table.OpenAdapters());
    EXPECT_EQ(h.backend->openPorts(), 2);
    // Opening again without a close leaves nothing of the first open behind.
    ASSERT_TRUE(h.table.OpenAdapters());
    EXPECT_EQ(h.backend->openPorts(), 2);

    EXPECT_TRUE(h.table.CloseAdapters());
    EXPECT_EQ(h.table.count(), 0);
    EXPECT_EQ(h.backend->openPorts(), 0);
    EXPECT_EQ(h.table.record(0).handle, kInvalidHandle);
    EXPECT_EQ(h.pendingSlots(0), 0);

    std::vector<std::string> texts;
    ASSERT_EQ(h.table.ListAdapters(texts), 2);
    EXPECT_EQ(h.backend->openPorts(), 2);
    EXPECT_EQ(texts[1], h.adapters[1].description + kPrefix + "sim1");
    EXPECT_EQ(h.pendingSlots(1), kSlotsPerAdapter);
    h.table.setCurrentAdapter(1);
    h.arrive(1, tagged(5));
    std::vector<std::uint8_t> frame;
    ASSERT_EQ(h.table.FetchFrame(frame), 60u);
    EXPECT_EQ(tagOf(frame), 5);
}

// A device arrival closes the table and opens it again, and the host may then have fewer adapters.
TEST(AdapterTable, TheCurrentAdapterFollowsItsInterfaceThroughAReopenAndIsGoneWithIt) {
    Harness h(3);
    const auto libraryWithout = [&](const std::vector<std::string>& gone) {
        std::vector<std::string> names;
        for (const SimHostAdapter& adapter : h.adapters)
            if (std::find(gone.begin(), gone.end(), adapter.name) == gone.end())
                names.push_back(adapter.name);
        h.backend->libraryList = names;
    };
    ASSERT_TRUE(h.table.OpenAdapters());
    h.table.setCurrentAdapter(2);
    const MacAddress device{{0x00, 0xB0, 0x52, 0x00, 0x00, 0x42}};
    h.table.record(2).localDeviceMac = device;
    h.table.record(1).localDeviceMac = MacAddress{{0x00, 0xB0, 0x52, 0x00, 0x00, 0x41}};

    // sim0 has gone: sim2 is record 1 now, and stays the current adapter with its device.
    libraryWithout({"sim0"});
    EXPECT_TRUE(h.table.CloseAdapters());
    EXPECT_EQ(h.table.current(), nullptr);
    h.table.SendFrame(makeFrame(60, 0x88E1, 1));
    std::vector<std::string> texts;
    ASSERT_EQ(h.table.ListAdapters(texts), 2);
    EXPECT_EQ(h.table.currentAdapter(), 1);
    ASSERT_NE(h.table.current(), nullptr);
    EXPECT_EQ(h.table.current()->interfaceName, "sim2");
    EXPECT_EQ(h.table.current()->localDeviceMac, device);
    h.table.SendFrame(makeFrame(60, 0x88E1, 2));
    EXPECT_TRUE(h.stations[1]->received().empty());
    ASSERT_EQ(h.stations[2]->received().size(), 1u);
    EXPECT_EQ(h.stations[2]->received()[0], makeFrame(60, 0x88E1, 2));

    // sim2 has gone as well (reopened without a close in between): no adapter is current, and nothing is sent
    // or taken on the one that is left.
    libraryWithout({"sim0", "sim2"});
    ASSERT_EQ(h.table.ListAdapters(texts), 1);
    EXPECT_EQ(h.table.current(), nullptr);
    EXPECT_EQ(h.table.currentAdapter(), -1);
    EXPECT_EQ(h.table.record(0).localDeviceMac, MacAddress{});
    h.table.SendFrame(makeFrame(60, 0x88E1, 3));
    EXPECT_TRUE(h.stations[1]->received().empty());
    h.arrive(1, tagged(9));
    std::vector<std::uint8_t> frame;
    EXPECT_EQ(h.table.FetchFrame(frame), 0u);
    EXPECT_EQ(h.pendingSlots(0), kSlotsPerAdapter);
}

TEST(AdapterTable, HostAdapterWithoutLibraryBindingIsSkipped) {
    Harness h(3);
    // wlan0 has no binding in the library; sim2 has one but is no host adapter; SIM1 matches case-insensitively.
    h.backend->hostList = std::vector<InterfaceInfo>{{"wlan0", "Wireless"}, {"SIM1", "Port one "}, {"sim0", "Zero "}};
    h.backend->libraryList = std::vector<std::string>{"sim2", "sim1", "sim0"};
    std::vector<std::string> texts;
    ASSERT_EQ(h.table.ListAdapters(texts), 2);
    EXPECT_EQ(texts[0], "Port one " + kPrefix + "sim1");
    EXPECT_EQ(texts[1], "Zero " + kPrefix + "sim0");
    EXPECT_EQ(h.table.record(0).interfaceName, "sim1");
    EXPECT_EQ(h.table.record(1).hostMac, h.adapters[0].mac);
    // The unmatched adapter was opened to be looked at, and closed again.
    EXPECT_EQ(h.backend->opened(), 3);
    EXPECT_EQ(h.backend->openPorts(), 2);
}

TEST(AdapterTable, AdaptersPastTheSixteenthAreIgnored) {
    Harness h(20);
    std::vector<std::string> texts;
    ASSERT_EQ(h.table.ListAdapters(texts), kMaxAdapters);
    ASSERT_EQ(texts.size(), static_cast<std::size_t>(kMaxAdapters));
    EXPECT_EQ(h.table.record(15).interfaceName, "sim15");
    EXPECT_EQ(h.backend->openPorts(), kMaxAdapters);
    EXPECT_EQ(h.pendingSlots(15), kSlotsPerAdapter);
    h.table.setCurrentAdapter(15);
    h.arrive(15, tagged(3));
    std::vector<std::uint8_t> frame;
    EXPECT_EQ(h.table.FetchFrame(frame), 60u);
}

TEST(AdapterTable, OnlyTheFirstSixteenHostAdaptersAreKeptForMatching) {
    Harness h(20);
    std::vector<std::string> reversed;
    for (int i = 19; i >= 0; --i)
        reversed.push_back("sim" + std::to_string(i));
    h.backend->libraryList = reversed;
    ASSERT_TRUE(h.table.OpenAdapters());
    ASSERT_EQ(h.table.count(), kMaxAdapters);
    // sim19..sim16 are past the 16th host adapter, so the library's first four items match nothing.
    EXPECT_EQ(h.table.record(0).interfaceName, "sim15");
    EXPECT_EQ(h.table.record(15).interfaceName, "sim0");
    EXPECT_EQ(h.backend->openPorts(), kMaxAdapters);
}

TEST(AdapterTable, LongRecordTextIsCutOnACharacterBoundary) {
    std::string description(200, 'd');
    for (int i = 0; i < 10; ++i)
        description += "\xC3\xA9";
    Harness h(1, LinkMode::Utility, {test::simAdapter("sim0", 1, description)});
    ASSERT_TRUE(h.table.OpenAdapters());
    const AdapterRecord& record = h.table.record(0);
    // 217 bytes would end in the middle of the ninth "é".
    std::string expected(200, 'd');
    for (int i = 0; i < 8; ++i)
        expected += "\xC3\xA9";
    EXPECT_EQ(fieldText(record.text), expected);
    EXPECT_EQ(record.text[kAdapterTextWidth - 1], '\0');
}

TEST(AdapterTable, UpgradeToolModeShowsTheLibraryDescription) {
    auto adapters = Harness::makeAdapters(2);
    adapters[1].description = std::string(300, 'x');
    Harness h(2, LinkMode::UpgradeTool, adapters);
    std::vector<std::string> texts;
    ASSERT_EQ(h.table.ListAdapters(texts), 2);
    EXPECT_EQ(texts[0], adapters[0].description);
    EXPECT_EQ(texts[1], std::string(kAdapterTextWidth - 1, 'x'));
    h.arrive(0, tagged(1));
    std::vector<std::uint8_t> frame;
    EXPECT_EQ(h.table.FetchFrame(frame), 60u);
}

TEST(AdapterTable, DestructionClosesTheAdaptersInBothModes) {
    for (const LinkMode mode : {LinkMode::Utility, LinkMode::UpgradeTool}) {
        auto adapters = Harness::makeAdapters(2);
        auto backend = std::make_shared<ScriptedBackend>(adapters);
        PacketLibrary library(backend);
        {
            AdapterTable table(library, mode);
            ASSERT_TRUE(table.OpenAdapters());
            EXPECT_EQ(backend->openPorts(), 2);
        }
        EXPECT_EQ(backend->openPorts(), 0);
    }
}

TEST(AdapterTable, ASlotWhoseEventFailedStaysUnusedWhileTheOthersWork) {
    Harness h(1);
    // The request event is the first creation, slot 0's the second: the seventh is slot 5's.
    h.library.failEventCreation(7);
    ASSERT_TRUE(h.table.OpenAdapters());
    const ReceiveSlot& broken = h.table.record(0).slots[5];
    EXPECT_FALSE(broken.io.eventCreated);
    EXPECT_FALSE(broken.io.pending.load());
    EXPECT_TRUE(h.table.record(0).slots[6].io.eventCreated);
    EXPECT_EQ(h.pendingSlots(0), kSlotsPerAdapter - 1);

    for (std::uint16_t i = 0; i < kSlotsPerAdapter - 1; ++i)
        h.arrive(0, tagged(i));
    const auto frames = h.fetchAll();
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kSlotsPerAdapter - 1));
    for (std::size_t i = 0; i < frames.size(); ++i)
        ASSERT_EQ(tagOf(frames[i]), i) << "at " << i;
    EXPECT_FALSE(broken.io.pending.load());
    EXPECT_EQ(broken.area.status.load(), kStatusPending);
    EXPECT_EQ(broken.area.frameLength, 0u);
    EXPECT_EQ(h.pendingSlots(0), kSlotsPerAdapter - 1);
}

TEST(AdapterTable, NoRequestEventMeansNoTable) {
    Harness h(2);
    h.library.failEventCreation(1);
    std::vector<std::string> texts;
    EXPECT_EQ(h.table.ListAdapters(texts), 0);
    EXPECT_EQ(h.table.count(), 0);
    EXPECT_EQ(h.backend->openPorts(), 0);
    // The failure was a passing one: the next open works.
    EXPECT_EQ(h.table.ListAdapters(texts), 2);
}

TEST(AdapterTable, WaitForFrameReturnsWhenAFrameArrives) {
    Harness h(1);
    ASSERT_TRUE(h.table.OpenAdapters());
    std::vector<std::uint8_t> frame;
    ASSERT_EQ(h.table.FetchFrame(frame), 0u);
    std::thread sender([&] { h.stations[0]->transmit(tagged(42)); });
    std::size_t length = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (length == 0 && std::chrono::steady_clock::now() < deadline) {
        h.table.waitForFrame(deadline);
        length = h.table.FetchFrame(frame);
    }
    sender.join();
    ASSERT_EQ(length, 60u);
    EXPECT_EQ(tagOf(frame), 42);
}

TEST(AdapterTable, CaptureHoldsSentAndFetchedFramesOfTheCurrentAdapter) {
    const auto path =
        std::filesystem::temp_directory_path() / ("zrq406-link-capture-" + std::to_string(::getpid()) + ".pcap");
    {
        Harness h(2);
        CaptureFile capture;
        std::string error;
        ASSERT_TRUE(capture.open(path.string(), error)) << error;
        h.table.setCapture(&capture);
        ASSERT_TRUE(h.table.OpenAdapters());
        h.table.SendFrame(makeFrame(20, 0x88E1, 1));
        h.table.SendFrame(makeFrame(1515));
        h.arrive(1, tagged(2)); // another adapter's frame is never captured
        h.arrive(0, tagged(3, 80));
        std::vector<std::uint8_t> frame;
        ASSERT_EQ(h.table.FetchFrame(frame), 80u);
        h.table.setCapture(nullptr);
    }
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    ASSERT_EQ(bytes.size(), 24u + 16 + 60 + 16 + 80);
    const auto u32 = [&](std::size_t at) {
        std::uint32_t v;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    EXPECT_EQ(u32(24 + 8), 60u);
    auto padded = makeFrame(20, 0x88E1, 1);
    padded.resize(60, 0);
    EXPECT_TRUE(std::equal(padded.begin(), padded.end(), bytes.begin() + 40));
    const std::size_t second = 24 + 16 + 60;
    EXPECT_EQ(u32(second + 8), 80u);
    EXPECT_EQ(u32(second + 12), 80u);
    EXPECT_NE(u32(second), 0u);
    const auto fetched = tagged(3, 80);
    EXPECT_TRUE(std::equal(fetched.begin(), fetched.end(), bytes.begin() + static_cast<std::ptrdiff_t>(second + 16)));
}

} // namespace
} // namespace zrq406::link
