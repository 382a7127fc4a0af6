#include "link/packet_area_room.h"
#include "link/packet_library.h"
#include "tests/link/link_test_support.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>

namespace zrq406::link {
namespace {

using test::Endpoint;
using test::makeFrame;

// One simulated adapter with a station on its segment, opened through the library with the management filter.
class PacketLibraryTest : public ::testing::Test {
protected:
    PacketLibraryTest()
        : adapter(test::simAdapter("sim0", 0x10, "Simulated adapter")), library(makeSimBackend({adapter})),
          station(adapter.segment) {}

    PlcHandle openAdapter() {
        const PlcHandle handle = library.PlcOpenAdapter(std::string(kAdapterNamePrefix) + "sim0");
        EXPECT_NE(handle, kInvalidHandle);
        EXPECT_TRUE(library.PlcSetFrameFilter(handle, kHomePlugFilter, sizeof kHomePlugFilter));
        std::uint32_t filter = kPacketFilterPromiscuous;
        AdapterRequestBlock set;
        set.type = 1;
        set.oid = kOidPacketFilter;
        set.buffer = reinterpret_cast<std::uint8_t*>(&filter);
        set.bufferLength = 4;
        EXPECT_TRUE(library.PlcAdapterRequest(handle, set, nullptr, 1));
        return handle;
    }

    struct Read {
        std::uint32_t bytes = 0;
        IoBlock io;
        PacketArea area;
    };

    SimHostAdapter adapter;
    PacketLibrary library;
    Endpoint station;
};

TEST_F(PacketLibraryTest, EnumeratesAdaptersWithPrefixedNames) {
    const int enumeration = library.PlcBeginEnum();
    ASSERT_NE(enumeration, -1);
    const int item = library.PlcFirstAdapter(enumeration);
    ASSERT_NE(item, -1);

    const std::string expected = std::string(kAdapterNamePrefix) + "sim0";
    std::uint32_t size = 0;
    EXPECT_EQ(library.PlcGetAdapterName(item, nullptr, &size), kErrorInsufficientBuffer);
    EXPECT_EQ(size, expected.size() + 1);
    std::uint32_t tooSmall = size - 1;
    std::vector<char> buffer(size + 4, 'x');
    EXPECT_EQ(library.PlcGetAdapterName(item, buffer.data(), &tooSmall), kErrorInsufficientBuffer);
    EXPECT_EQ(library.PlcGetAdapterName(item, buffer.data(), &size), 0u);
    EXPECT_STREQ(buffer.data(), expected.c_str());

    char description[260] = {};
    std::uint32_t descriptionSize = sizeof description;
    EXPECT_EQ(library.PlcGetAdapterDescription(item, description, &descriptionSize), 0u);
    EXPECT_STREQ(description, "Simulated adapter");

    EXPECT_EQ(library.PlcNextAdapter(enumeration), -1);
    library.PlcReleaseAdapterItem(item);
    EXPECT_NE(library.PlcGetAdapterName(item, nullptr, &size), 0u);
    EXPECT_NE(library.PlcGetAdapterName(item, nullptr, &size), kErrorInsufficientBuffer);
    library.PlcEndEnum(enumeration);
    EXPECT_EQ(library.PlcFirstAdapter(enumeration), -1);
}

TEST_F(PacketLibraryTest, LongDescriptionIsCutOnACharacterBoundary) {
    std::string longText(258, 'a');
    longText += "\xC3\xA9\xC3\xA9"; // "éé" straddles the 259-byte limit
    PacketLibrary other(makeSimBackend({test::simAdapter("sim0", 1, longText)}));
    const int enumeration = other.PlcBeginEnum();
    const int item = other.PlcFirstAdapter(enumeration);
    char description[260];
    std::memset(description, 'z', sizeof description);
    std::uint32_t size = sizeof description;
    ASSERT_EQ(other.PlcGetAdapterDescription(item, description, &size), 0u);
    EXPECT_EQ(std::string(description), std::string(258, 'a'));
    other.PlcEndEnum(enumeration);
}

TEST_F(PacketLibraryTest, OpenNeedsThePrefixAndAKnownInterface) {
    EXPECT_EQ(library.PlcOpenAdapter("sim0"), kInvalidHandle);
    EXPECT_NE(library.PlcLastError(), 0u);
    EXPECT_EQ(library.PlcOpenAdapter(std::string(kAdapterNamePrefix) + "sim7"), kInvalidHandle);
    EXPECT_EQ(library.PlcOpenAdapter(kAdapterNamePrefix), kInvalidHandle);
    const PlcHandle first = openAdapter();
    const PlcHandle second = openAdapter();
    EXPECT_NE(first, second);
}

TEST_F(PacketLibraryTest, AdapterRequestsReadTheAddressAndRefuseTheUnknown) {
    const PlcHandle handle = openAdapter();
    std::uint8_t address[6] = {};
    AdapterRequestBlock query;
    query.oid = kOidCurrentAddress;
    query.buffer = address;
    query.bufferLength = 6;
    ASSERT_TRUE(library.PlcAdapterRequest(handle, query, nullptr, 1));
    EXPECT_EQ(query.bytesWritten, 6u);
    EXPECT_EQ(0, std::memcmp(address, adapter.mac.bytes.data(), 6));

    query.bufferLength = 5;
    EXPECT_FALSE(library.PlcAdapterRequest(handle, query, nullptr, 1));
    AdapterRequestBlock unknown;
    unknown.oid = 0x01010101;
    unknown.buffer = address;
    unknown.bufferLength = 6;
    EXPECT_FALSE(library.PlcAdapterRequest(handle, unknown, nullptr, 1));
    EXPECT_FALSE(library.PlcAdapterRequest(handle + 100, query, nullptr, 1));
}

TEST_F(PacketLibraryTest, ReadsCompleteInArmingOrder) {
    const PlcHandle handle = openAdapter();
    auto reads = std::make_unique<Read[]>(3);
    // Armed in the order 2, 0, 1.
    for (const int i : {2, 0, 1})
        ASSERT_TRUE(library.PlcReadFrame(handle, &reads[i].area, &reads[i].bytes, &reads[i].io, 0));
    EXPECT_TRUE(reads[0].io.pending.load());
    for (std::uint8_t fill = 2; fill <= 4; ++fill)
        station.transmit(makeFrame(60 + fill, 0x88E1, fill));
    ASSERT_TRUE(test::waitForCompletions(library, 3));

    const int order[] = {2, 0, 1};
    for (int n = 0; n < 3; ++n) {
        const Read& read = reads[order[n]];
        const auto expected = makeFrame(62 + n, 0x88E1, static_cast<std::uint8_t>(2 + n));
        EXPECT_EQ(read.area.status.load(), kStatusStored);
        EXPECT_FALSE(read.io.pending.load());
        ASSERT_EQ(read.area.frameLength, expected.size());
        EXPECT_EQ(read.bytes, expected.size());
        EXPECT_NE(read.area.arrivalNanoseconds, 0u);
        EXPECT_EQ(0, std::memcmp(read.area.frame, expected.data(), expected.size()));
    }
    EXPECT_EQ(library.completions(), 3u);
}

// A port whose frames the test hands over one by one, and which tells when the library has dealt with all of
// them (it asks for the next frame only once it has finished with the last one).
class ManualPort : public LinkPort {
public:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::vector<std::uint8_t>> frames;
        std::uint64_t pushed = 0;
        std::uint64_t dealtWith = 0;
        bool interrupted = false;
        bool starved = false; // the receive thread never sees a frame, as on a host that does not run it
    };
    explicit ManualPort(std::shared_ptr<State> state) : m_state(std::move(state)) {}
    std::optional<MacAddress> hardwareAddress() override { return MacAddress{}; }
    bool setFilter(std::span<const BpfInstruction>) override { return true; }
    bool setPromiscuous(bool) override { return true; }
    bool send(std::span<const std::uint8_t>) override { return true; }
    int receive(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override {
        std::unique_lock lock(m_state->mutex);
        m_state->dealtWith = m_state->pushed - m_state->frames.size();
        m_state->changed.notify_all();
        m_state->changed.wait_for(lock, timeout, [&] { return m_state->interrupted || !m_state->frames.empty(); });
        if (m_state->interrupted)
            return -1;
        if (m_state->frames.empty() || (m_state->starved && timeout.count() > 0))
            return 0;
        const auto frame = std::move(m_state->frames.front());
        m_state->frames.pop_front();
        std::memcpy(buffer.data(), frame.data(), std::min(frame.size(), buffer.size()));
        return static_cast<int>(std::min(frame.size(), buffer.size()));
    }
    int waitReadable(std::chrono::milliseconds timeout) override {
        std::unique_lock lock(m_state->mutex);
        m_state->changed.wait_for(
            lock, timeout, [&] { return m_state->interrupted || (!m_state->frames.empty() && !m_state->starved); });
        if (m_state->interrupted)
            return -1;
        return m_state->frames.empty() || m_state->starved ? 0 : 1;
    }
    void interrupt() override {
        std::lock_guard lock(m_state->mutex);
        m_state->interrupted = true;
        m_state->changed.notify_all();
    }

    static void push(State& state, std::vector<std::uint8_t> frame) {
        std::lock_guard lock(state.mutex);
        state.frames.push_back(std::move(frame));
        ++state.pushed;
        state.changed.notify_all();
    }
    static bool waitDealtWith(State& state) {
        std::unique_lock lock(state.mutex);
        return state.changed.wait_for(lock, std::chrono::seconds(20), [&] { return state.dealtWith == state.pushed; });
    }

private:
    std::shared_ptr<State> m_state;
};

class ManualBackend : public LinkBackend {
public:
    std::vector<InterfaceInfo> hostInterfaces() override { return {{"man0", "manual"}}; }
    std::vector<std::string> libraryInterfaces() override { return {"man0"}; }
    std::unique_ptr<LinkPort> open(const std::string&, std::string&) override {
        return std::make_unique<ManualPort>(state);
    }
    std::shared_ptr<ManualPort::State> state = std::make_shared<ManualPort::State>();
};

TEST(PacketLibraryReceive, AFrameWithNoReadArmedIsLost) {
    auto backend = std::make_shared<ManualBackend>();
    PacketLibrary library(backend);
    const PlcHandle handle = library.PlcOpenAdapter(std::string(kAdapterNamePrefix) + "man0");
    ASSERT_NE(handle, kInvalidHandle);
    ManualPort::push(*backend->state, makeFrame(60, 0x88E1, 1));
    ASSERT_TRUE(ManualPort::waitDealtWith(*backend->state));

    auto area = std::make_unique<PacketArea>();
    IoBlock io;
    std::uint32_t bytes = 0;
    ASSERT_TRUE(library.PlcReadFrame(handle, area.get(), &bytes, &io, 0));
    ManualPort::push(*backend->state, makeFrame(70, 0x88E1, 2));
    ASSERT_TRUE(test::waitForCompletions(library, 1));
    EXPECT_EQ(area->frameLength, 70u);
    EXPECT_EQ(area->frame[20], makeFrame(70, 0x88E1, 2)[20]);
    EXPECT_EQ(library.completions(), 1u);
}

TEST(PacketLibraryReceive, ACallerCompletesTheReadsWithWhatThePortHoldsWhenTheReceiveThreadDoesNotRun) {
    auto backend = std::make_shared<ManualBackend>();
    backend->state->starved = true;
    PacketLibrary library(backend);
    const PlcHandle handle = library.PlcOpenAdapter(std::string(kAdapterNamePrefix) + "man0");
    ASSERT_NE(handle, kInvalidHandle);
    struct Read {
        std::uint32_t bytes = 0;
        IoBlock io;
        PacketArea area;
    };
    auto reads = std::make_unique<Read[]>(2);
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(library.PlcReadFrame(handle, &reads[i].area, &reads[i].bytes, &reads[i].io, 0));
    for (std::uint8_t fill = 1; fill <= 3; ++fill)
        ManualPort::push(*backend->state, makeFrame(60 + fill, 0x88E1, fill));
    library.completeArrivedReads(handle);

    // In the order the port got them; the third found no read armed and is gone, as it would be from the thread.
    EXPECT_EQ(library.completions(), 2u);
    for (int i = 0; i < 2; ++i) {
        const auto expected = makeFrame(61 + static_cast<std::size_t>(i), 0x88E1, static_cast<std::uint8_t>(i + 1));
        EXPECT_EQ(reads[i].area.status.load(), kStatusStored);
        EXPECT_FALSE(reads[i].io.pending.load());
        ASSERT_EQ(reads[i].area.frameLength, expected.size());
        EXPECT_EQ(0, std::memcmp(frameRoom(reads[i].area), expected.data(), expected.size()));
    }
    std::lock_guard lock(backend->state->mutex);
    EXPECT_TRUE(backend->state->frames.empty());
}

TEST(PacketLibraryReceive, AnOverlongFrameIsCutToTheAreasRoom) {
    auto backend = std::make_shared<ManualBackend>();
    PacketLibrary library(backend);
    const PlcHandle handle = library.PlcOpenAdapter(std::string(kAdapterNamePrefix) + "man0");
    auto area = std::make_unique<PacketArea>();
    IoBlock io;
    std::uint32_t bytes = 0;
    ASSERT_TRUE(library.PlcReadFrame(handle, area.get(), &bytes, &io, 0));
    ManualPort::push(*backend->state, makeFrame(9000));
    ASSERT_TRUE(test::waitForCompletions(library, 1));
    EXPECT_EQ(area->frameLength, kPacketAreaRoom);
    EXPECT_EQ(bytes, kPacketAreaRoom);
}

TEST_F(PacketLibraryTest, AFullSizeFrameIsDeliveredWhole) {
    const PlcHandle handle = openAdapter();
    auto read = std::make_unique<Read>();
    ASSERT_TRUE(library.PlcReadFrame(handle, &read->area, &read->bytes, &read->io, 0));
    const auto frame = makeFrame(1514, 0x88E1, 0x5A);
    station.transmit(frame);
    ASSERT_TRUE(test::waitForCompletions(library, 1));
    ASSERT_EQ(read->area.frameLength, 1514u);
    EXPECT_EQ(0, std::memcmp(frameRoom(read->area), frame.data(), frame.size()));
    EXPECT_EQ(frameRoom(read->area)[1513], frame[1513]);
}

TEST_F(PacketLibraryTest, FilterDropsOtherEthertypes) {
    const PlcHandle handle = openAdapter();
    auto read = std::make_unique<Read>();
    ASSERT_TRUE(library.PlcReadFrame(handle, &read->area, &read->bytes, &read->io, 0));
    station.transmit(makeFrame(60, 0x0800, 1));
    station.transmit(makeFrame(60, 0x86DD, 2));
    station.transmit(makeFrame(60, 0x88E1, 3));
    ASSERT_TRUE(test::waitForCompletions(library, 1));
    EXPECT_EQ(read->area.frame[14], makeFrame(60, 0x88E1, 3)[14]);

    const BpfInstruction loadWord[] = {{0x20, 0, 0, 12}, {0x06, 0, 0, 0}};
    EXPECT_FALSE(library.PlcSetFrameFilter(handle, loadWord, sizeof loadWord));
    EXPECT_FALSE(library.PlcSetFrameFilter(handle, kHomePlugFilter, 31));
}

TEST_F(PacketLibraryTest, ASlotIsNeverArmedTwiceAndReleaseCancels) {
    const PlcHandle handle = openAdapter();
    auto reads = std::make_unique<Read[]>(2);
    ASSERT_TRUE(library.PlcReadFrame(handle, &reads[0].area, &reads[0].bytes, &reads[0].io, 0));
    EXPECT_FALSE(library.PlcReadFrame(handle, &reads[0].area, &reads[0].bytes, &reads[0].io, 0));
    ASSERT_TRUE(library.PlcReadFrame(handle, &reads[1].area, &reads[1].bytes, &reads[1].io, 0));

    library.PlcReleaseRead(handle, &reads[0].area);
    EXPECT_FALSE(reads[0].io.pending.load());
    station.transmit(makeFrame(60, 0x88E1, 1));
    ASSERT_TRUE(test::waitForCompletions(library, 1));
    EXPECT_EQ(reads[0].area.status.load(), kStatusPending);
    EXPECT_EQ(reads[1].area.status.load(), kStatusStored);
}

TEST_F(PacketLibraryTest, CloseEndsOutstandingReads) {
    const PlcHandle handle = openAdapter();
    auto read = std::make_unique<Read>();
    ASSERT_TRUE(library.PlcReadFrame(handle, &read->area, &read->bytes, &read->io, 0));
    library.PlcCloseAdapter(handle);
    EXPECT_FALSE(read->io.pending.load());
    station.transmit(makeFrame(60, 0x88E1, 1));
    EXPECT_EQ(read->area.status.load(), kStatusPending);
    EXPECT_FALSE(library.PlcReadFrame(handle, &read->area, &read->bytes, &read->io, 0));
    std::uint32_t written = 0;
    const auto frame = makeFrame(60);
    EXPECT_FALSE(library.PlcWriteFrame(handle, frame.data(), 60, &written, nullptr, nullptr));
}

TEST_F(PacketLibraryTest, WriteCallsTheCallbackBeforeReturning) {
    const PlcHandle handle = openAdapter();
    const auto frame = makeFrame(100, 0x88E1, 4);
    std::uint32_t written = 0;
    IoBlock io;
    int calls = 0;
    std::uint32_t reportedBytes = 0;
    std::uint32_t reportedError = 99;
    ASSERT_TRUE(library.PlcWriteFrame(handle, frame.data(), 100, &written, &io,
                                      [&](std::uint32_t error, std::uint32_t bytes, IoBlock* block) {
                                          ++calls;
                                          reportedError = error;
                                          reportedBytes = bytes;
                                          EXPECT_EQ(block, &io);
                                      }));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(reportedError, 0u);
    EXPECT_EQ(reportedBytes, 100u);
    EXPECT_EQ(written, 100u);
    ASSERT_EQ(station.received().size(), 1u);
    EXPECT_EQ(station.received()[0], frame);

    // A frame the port refuses: no callback, false, and an error that does not promise a late completion.
    const auto tooLong = makeFrame(1600);
    EXPECT_FALSE(
        library.PlcWriteFrame(handle, tooLong.data(), 1600, &written, &io, [&](auto, auto, auto) { ++calls; }));
    EXPECT_EQ(calls, 1);
    const std::uint32_t error = library.PlcLastError();
    EXPECT_NE(error, 0u);
    EXPECT_NE(error, kErrorIoPending);
    EXPECT_NE(error, kErrorNotEnoughMemory);
}

TEST_F(PacketLibraryTest, WaitForCompletionReturnsOnceAReadCompletes) {
    const PlcHandle handle = openAdapter();
    auto read = std::make_unique<Read>();
    ASSERT_TRUE(library.PlcReadFrame(handle, &read->area, &read->bytes, &read->io, 0));
    std::uint64_t seen = library.completions();
    // Nothing arrives: the wait ends at its deadline with nothing new.
    library.waitForCompletion(std::chrono::steady_clock::now() + std::chrono::milliseconds(20), seen);
    EXPECT_EQ(seen, 0u);
    std::thread sender([&] { station.transmit(makeFrame(60)); });
    library.waitForCompletion(std::chrono::steady_clock::now() + std::chrono::seconds(20), seen);
    sender.join();
    EXPECT_EQ(seen, 1u);
    EXPECT_EQ(read->area.status.load(), kStatusStored);
}

TEST(PacketLibraryEvents, TheNthCreationFailsOnce) {
    PacketLibrary library(makeSimBackend({}));
    EXPECT_TRUE(library.createEvent());
    library.failEventCreation(3);
    EXPECT_TRUE(library.createEvent());
    EXPECT_TRUE(library.createEvent());
    EXPECT_FALSE(library.createEvent());
    EXPECT_TRUE(library.createEvent());
}

} // namespace
} // namespace zrq406::link
