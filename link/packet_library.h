#pragma once

#include "link/link_backend.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zrq406::link {

using PlcHandle = std::int32_t;
constexpr PlcHandle kInvalidHandle = -1;

constexpr std::uint32_t kStatusStored = 0;
constexpr std::uint32_t kStatusPending = 259;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorIoPending = 997;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kOidCurrentAddress = 0x01010102;
constexpr std::uint32_t kOidPacketFilter = 0x0001010E;
constexpr std::uint32_t kPacketFilterPromiscuous = 0x00000020;
constexpr std::size_t kPacketAreaFrameRoom = 1513;
constexpr std::uint32_t kPacketAreaCapacity = 1500;
// Library adapter names are this 8-character device-path prefix followed by the interface name.
inline constexpr char kAdapterNamePrefix[] = "\\Device\\";

// The record that a read completes into. The library writes status, frame length and frame bytes from its
// receive thread; status is written last (release) and read first (acquire).
struct PacketArea {
    std::uint32_t adapterIndex = 0;
    std::uint32_t slotIndex = 0;
    std::uint64_t arrivalNanoseconds = 0; // when the frame arrived (wall clock); reserved space in the layout
    std::uint8_t reserved1[8] = {};
    std::atomic<std::uint32_t> status{kStatusPending};
    std::uint8_t reserved2[16] = {};
    std::uint32_t frameLength = 0;
    std::uint32_t reserved3 = 0;
    std::uint32_t capacity = 0;
    std::uint8_t frame[kPacketAreaFrameRoom] = {};
};
static_assert(offsetof(PacketArea, status) == 24);
static_assert(offsetof(PacketArea, frameLength) == 44);
static_assert(offsetof(PacketArea, capacity) == 52);
static_assert(offsetof(PacketArea, frame) == 56);

// The completion state of one asynchronous operation (the stand-in for an overlapped block and its event).
struct IoBlock {
    std::atomic<bool> pending{false};
    bool eventCreated = false;
};

struct AdapterRequestBlock {
    std::uint8_t reserved[20] = {};
    std::uint32_t type = 0; // 0 query, 1 set
    std::uint32_t oid = 0;
    std::uint8_t* buffer = nullptr;
    std::uint32_t bufferLength = 0;
    std::uint32_t bytesWritten = 0;
    std::uint32_t bytesNeeded = 0;
};

using WriteCallback = std::function<void(std::uint32_t error, std::uint32_t bytes, IoBlock* io)>;

// The 4-instruction receive filter: accept Ethertype 0x88E1, drop everything else.
extern const BpfInstruction kHomePlugFilter[4];

// The raw-frame packet library: adapter enumeration, open and close, adapter requests, receive filter,
// asynchronous frame reads into caller-owned PacketAreas and frame writes, over one backend. Reads complete
// from one receive thread per open adapter, in the order they were armed, with the frames in the order the
// port received them; completeArrivedReads completes them on the caller's thread as well.
class PacketLibrary {
public:
    explicit PacketLibrary(std::shared_ptr<LinkBackend> backend);
    ~PacketLibrary();
    PacketLibrary(const PacketLibrary&) = delete;
    PacketLibrary& operator=(const PacketLibrary&) = delete;

    int PlcBeginEnum();
    int PlcFirstAdapter(int enumeration);
    int PlcNextAdapter(int enumeration);
    std::uint32_t PlcGetAdapterName(int item, char* buffer, std::uint32_t* size);
    std::uint32_t PlcGetAdapterDescription(int item, char* buffer, std::uint32_t* size);
    void PlcReleaseAdapterItem(int item);
    void PlcEndEnum(int enumeration);
    PlcHandle PlcOpenAdapter(const std::string& name);
    void PlcCloseAdapter(PlcHandle handle);
    bool PlcAdapterRequest(PlcHandle handle, AdapterRequestBlock& request, IoBlock* io, int wait);
    bool PlcSetFrameFilter(PlcHandle handle, const BpfInstruction* program, int programBytes);
    bool PlcReadFrame(PlcHandle handle, PacketArea* area, std::uint32_t* bytesTransferred, IoBlock* io, int flags);
    void PlcReleaseRead(PlcHandle handle, PacketArea* area);
    bool PlcWriteFrame(PlcHandle handle, const std::uint8_t* frame, std::uint32_t length, std::uint32_t* written,
                       IoBlock* io, const WriteCallback& callback);
    std::uint32_t PlcLastError() const;

    // The host's Ethernet interfaces (the IP helper's list).
    std::vector<InterfaceInfo> hostAdapters();

    // Waits until some read has completed since `seen` (a counter value from an earlier call) or the deadline
    // passes; updates `seen`. This is how callers wait for a frame without sleeping a fixed time.
    void waitForCompletion(std::chrono::steady_clock::time_point deadline, std::uint64_t& seen);
    // Completes at once, on the calling thread, the armed reads of the adapter with the frames its port holds
    // already, as the receive thread would once it runs: what had arrived when this was called is then in the
    // areas, however long that thread is kept from running on a busy host.
    void completeArrivedReads(PlcHandle handle);
    std::uint64_t completions() const;

    // For tests of the link's own failure handling: makes the n-th next event creation fail (1 = the next).
    // Event creation is asked through createEvent().
    void failEventCreation(int nth);
    bool createEvent();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace zrq406::link
