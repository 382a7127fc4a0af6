#pragma once

#include "link/packet_library.h"
#include "platform/mac_address.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace zrq406::link {

class CaptureFile;

constexpr int kMaxAdapters = 16;
constexpr int kSlotsPerAdapter = 512;
constexpr std::size_t kMinFrameLength = 60;
constexpr std::size_t kMaxFrameLength = 1514;
constexpr std::size_t kAdapterTextWidth = 218;

// The configuration utility and the upgrade tool build this link with small differences.
enum class LinkMode {
    Utility,    // record text: IP-helper description + library name; CloseAdapters and PlcReleaseRead used
    UpgradeTool // record text: the library's adapter description; adapters stay open until the end
};

struct ReceiveSlot {
    std::uint32_t bytesTransferred = 0;
    IoBlock io;
    PacketArea area;
};

struct AdapterRecord {
    PlcHandle handle = kInvalidHandle;
    MacAddress hostMac;
    char text[kAdapterTextWidth] = {};
    MacAddress localDeviceMac;
    std::string interfaceName; // the host interface behind this record, e.g. "eth0"
    std::array<ReceiveSlot, kSlotsPerAdapter> slots;
};

// The host's adapters, opened for HomePlug AV management frames, with 512 reads outstanding on each, and the
// current adapter on which frames are sent and fetched.
class AdapterTable {
public:
    AdapterTable(PacketLibrary& library, LinkMode mode);
    ~AdapterTable();
    AdapterTable(const AdapterTable&) = delete;
    AdapterTable& operator=(const AdapterTable&) = delete;

    // Opens every adapter that both the host's interface list and the packet library know (at most 16). The
    // adapter that was current when the table was last closed stays current if its interface is among them
    // (under its new index); otherwise no adapter is current until discovery makes one current.
    bool OpenAdapters();
    // OpenAdapters, then the texts of the opened records; 0 when opening failed.
    int ListAdapters(std::vector<std::string>& texts);
    // Closes every adapter. No adapter is current afterwards; OpenAdapters looks for the current one again.
    bool CloseAdapters();
    // Sends on the current adapter: shorter than 60 bytes is padded with zeros, longer than 1514 not sent.
    void SendFrame(std::span<const std::uint8_t> frame);
    // Takes one received frame of the current adapter into `frame`; returns its length, 0 when none.
    std::size_t FetchFrame(std::vector<std::uint8_t>& frame);
    // The first completed slot over all adapters in record and slot order, taken (status 259), or nullptr.
    PacketArea* PollReceiveSlots();
    // Arms every slot of the adapter that has no read outstanding.
    void ArmReceiveSlots(int adapterIndex);

    // Blocks until a frame may have arrived on any adapter, or the deadline passes.
    void waitForFrame(std::chrono::steady_clock::time_point deadline);

    int count() const { return m_count; }
    // The index of the current adapter; it may name no open record (-1 after CloseAdapters, or any index that a
    // caller set), which current() tells.
    int currentAdapter() const { return m_current; }
    void setCurrentAdapter(int index) { m_current = index; }
    // An open record: `index` must lie below count().
    AdapterRecord& record(int index) { return *m_records[static_cast<std::size_t>(index)]; }
    const AdapterRecord& record(int index) const { return *m_records[static_cast<std::size_t>(index)]; }
    // The record of the current adapter, or nullptr when the current index names no open record.
    AdapterRecord* current();
    const AdapterRecord* current() const;
    // The index of the record of the given interface, or -1.
    int findInterface(const std::string& interfaceName) const;
    LinkMode mode() const { return m_mode; }

    // Frames sent and fetched on the current adapter are also written here (nullptr: none).
    void setCapture(CaptureFile* capture) { m_capture = capture; }

private:
    void closeRecord(AdapterRecord& record);

    PacketLibrary& m_library;
    LinkMode m_mode;
    std::array<std::unique_ptr<AdapterRecord>, kMaxAdapters> m_records;
    int m_count = 0;
    int m_current = 0;
    // What CloseAdapters remembers of the current adapter, for OpenAdapters to find it again.
    std::string m_closedCurrentInterface;
    MacAddress m_closedCurrentDevice;
    IoBlock m_requestIo;
    IoBlock m_sendIo;
    std::uint64_t m_seenCompletions = 0;
    CaptureFile* m_capture = nullptr;
};

} // namespace zrq406::link
