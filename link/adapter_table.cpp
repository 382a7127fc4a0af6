#include "link/adapter_link.h"
#include "link/capture_file.h"
#include "link/packet_area_room.h"
#include "platform/text_field.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace zrq406::link {

namespace {

constexpr std::uint32_t kRequestQuery = 0;
constexpr std::uint32_t kRequestSet = 1;
constexpr std::uint32_t kDescriptionBufferSize = 260;
constexpr std::size_t kPrefixLength = sizeof(kAdapterNamePrefix) - 1;
constexpr auto kSendWait = std::chrono::milliseconds(5000);

// An IP-helper adapter kept for matching: its name and description.
struct HostAdapter {
    std::string name;
    std::string description;
};

// Case-insensitive for ASCII letters; the bytes of multibyte characters compare exactly, so a character is never
// folded into part of another.
bool sameAdapterName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        const auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; };
        if (fold(x) != fold(y))
            return false;
    }
    return true;
}

// The send completion as the writing thread waits for it; shared with the callback, which may outlive the wait.
struct SendCompletion {
    std::mutex mutex;
    std::condition_variable done;
    bool completed = false;
};

void resetRecord(AdapterRecord& record) {
    record.handle = kInvalidHandle;
    record.hostMac = MacAddress{};
    std::memset(record.text, 0, sizeof record.text);
    // The record may now stand for another interface than before: the device behind it is not known yet.
    record.localDeviceMac = MacAddress{};
    record.interfaceName.clear();
    for (ReceiveSlot& slot : record.slots) {
        slot.bytesTransferred = 0;
        slot.io.pending.store(false);
        slot.io.eventCreated = false;
        slot.area.adapterIndex = 0;
        slot.area.slotIndex = 0;
        slot.area.arrivalNanoseconds = 0;
        slot.area.status.store(kStatusPending);
        slot.area.frameLength = 0;
        slot.area.capacity = 0;
    }
}

} // namespace

AdapterTable::AdapterTable(PacketLibrary& library, LinkMode mode) : m_library(library), m_mode(mode) {}

AdapterTable::~AdapterTable() {
    // Also in the upgrade tool, whose adapters otherwise stay open: the library's receive threads must not
    // outlive the slots they fill.
    CloseAdapters();
}

bool AdapterTable::OpenAdapters() {
    // A second open without a close in between would leave the earlier handles and their threads behind.
    if (m_count > 0)
        CloseAdapters();

    std::vector<HostAdapter> hostAdapters;
    for (const InterfaceInfo& info : m_library.hostAdapters()) {
        if (hostAdapters.size() == static_cast<std::size_t>(kMaxAdapters))
            break;
        hostAdapters.push_back({info.name, info.description});
    }

    const int enumeration = m_library.PlcBeginEnum();
    if (enumeration == -1)
        return false;

    int filled = 0;
    for (int item = m_library.PlcFirstAdapter(enumeration); item != -1; item = m_library.PlcNextAdapter(enumeration)) {
        std::uint32_t size = 0;
        std::uint32_t answer = m_library.PlcGetAdapterName(item, nullptr, &size);
        std::string libraryName;
        if ((answer == 0 || answer == kErrorInsufficientBuffer) && size > 0) {
            std::vector<char> buffer(size, '\0');
            answer = m_library.PlcGetAdapterName(item, buffer.data(), &size);
            if (answer == 0 && size > 0)
                libraryName.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
        }
        if (!libraryName.empty()) {
            std::string libraryDescription;
            if (m_mode == LinkMode::UpgradeTool) {
                char description[kDescriptionBufferSize] = {};
                std::uint32_t descriptionSize = kDescriptionBufferSize;
                if (m_library.PlcGetAdapterDescription(item, description, &descriptionSize) == 0)
                    libraryDescription = fieldText(description);
            }
            const PlcHandle handle = m_library.PlcOpenAdapter(libraryName);
            if (handle != kInvalidHandle) {
                const std::string_view interfaceName =
                    std::string_view(libraryName).substr(std::min(kPrefixLength, libraryName.size()));
                const auto match = std::find_if(hostAdapters.begin(), hostAdapters.end(), [&](const HostAdapter& h) {
                    return sameAdapterName(h.name, interfaceName);
                });
                // Past the 16th record there is no room: such an adapter is closed again like one that matches
                // nothing, rather than left open with a receive thread nobody reads.
                if (match == hostAdapters.end() || filled == kMaxAdapters) {
                    m_library.PlcCloseAdapter(handle);
                } else {
                    auto& slot = m_records[static_cast<std::size_t>(filled)];
                    if (!slot)
                        slot = std::make_unique<AdapterRecord>();
                    AdapterRecord& record = *slot;
                    resetRecord(record);
                    record.handle = handle;
                    record.interfaceName = std::string(interfaceName);
                    // Longer texts are cut on a character boundary; the field always keeps its terminator.
                    if (m_mode == LinkMode::UpgradeTool)
                        copyToField(record.text, libraryDescription);
                    else
                        copyToField(record.text, match->description + libraryName);
                    ++filled;
                }
            }
        }
        m_library.PlcReleaseAdapterItem(item);
    }
    m_library.PlcEndEnum(enumeration);
    m_count = filled;

    m_requestIo.eventCreated = m_library.createEvent();
    if (!m_requestIo.eventCreated) {
        for (int i = 0; i < m_count; ++i) {
            m_library.PlcCloseAdapter(record(i).handle);
            record(i).handle = kInvalidHandle;
        }
        (void)m_library.PlcLastError();
        m_count = 0;
        return false;
    }

    for (int i = 0; i < m_count; ++i) {
        AdapterRecord& rec = record(i);

        std::uint8_t address[6] = {};
        AdapterRequestBlock query;
        query.type = kRequestQuery;
        query.oid = kOidCurrentAddress;
        query.buffer = address;
        query.bufferLength = sizeof address;
        query.bytesNeeded = sizeof address;
        if (m_library.PlcAdapterRequest(rec.handle, query, &m_requestIo, 1))
            std::memcpy(rec.hostMac.bytes.data(), address, sizeof address);

        // Every slot asks for its own event: a slot whose event could not be made stays out of use (never armed,
        // never polled), and the slots behind it still work.
        for (ReceiveSlot& slot : rec.slots) {
            slot.io.eventCreated = m_library.createEvent();
            if (slot.io.eventCreated)
                slot.area.capacity = kPacketAreaCapacity;
        }

        m_library.PlcSetFrameFilter(rec.handle, kHomePlugFilter, static_cast<int>(sizeof kHomePlugFilter));

        std::uint32_t filter = kPacketFilterPromiscuous;
        AdapterRequestBlock set;
        set.type = kRequestSet;
        set.oid = kOidPacketFilter;
        set.buffer = reinterpret_cast<std::uint8_t*>(&filter);
        set.bufferLength = sizeof filter;
        m_library.PlcAdapterRequest(rec.handle, set, &m_requestIo, 1);

        ArmReceiveSlots(i);
    }

    m_sendIo.eventCreated = m_library.createEvent();
    // Indices shift when interfaces come or go: the current adapter is found again by its interface, and
    // keeps the device that discovery found behind it.
    if (!m_closedCurrentInterface.empty()) {
        m_current = findInterface(m_closedCurrentInterface);
        if (m_current >= 0)
            record(m_current).localDeviceMac = m_closedCurrentDevice;
        m_closedCurrentInterface.clear();
    }
    return true;
}

int AdapterTable::ListAdapters(std::vector<std::string>& texts) {
    if (!OpenAdapters())
        return 0;
    texts.clear();
    for (int i = 0; i < m_count; ++i)
        texts.push_back(fieldText(record(i).text));
    return m_count;
}

void AdapterTable::closeRecord(AdapterRecord& rec) {
    std::uint32_t filter = 0;
    AdapterRequestBlock set;
    set.type = kRequestSet;
    set.oid = kOidPacketFilter;
    set.buffer = reinterpret_cast<std::uint8_t*>(&filter);
    set.bufferLength = sizeof filter;
    m_library.PlcAdapterRequest(rec.handle, set, &m_requestIo, 1);
    m_library.PlcCloseAdapter(rec.handle);
    // The upgrade tool's build never releases reads; closing the adapter has ended them all the same.
    for (ReceiveSlot& slot : rec.slots) {
        if (m_mode == LinkMode::Utility)
            m_library.PlcReleaseRead(rec.handle, &slot.area);
        slot.io.eventCreated = false;
    }
    rec.handle = kInvalidHandle;
}

bool AdapterTable::CloseAdapters() {
    if (const AdapterRecord* rec = current(); rec != nullptr) {
        m_closedCurrentInterface = rec->interfaceName;
        m_closedCurrentDevice = rec->localDeviceMac;
    }
    for (int i = 0; i < m_count; ++i)
        closeRecord(record(i));
    m_sendIo.eventCreated = false;
    m_requestIo.eventCreated = false;
    m_count = 0;
    m_current = -1;
    return true;
}

AdapterRecord* AdapterTable::current() {
    return m_current >= 0 && m_current < m_count ? &record(m_current) : nullptr;
}

const AdapterRecord* AdapterTable::current() const {
    return m_current >= 0 && m_current < m_count ? &record(m_current) : nullptr;
}

void AdapterTable::SendFrame(std::span<const std::uint8_t> frame) {
    AdapterRecord* rec = current();
    if (rec == nullptr || frame.size() > kMaxFrameLength)
        return;
    // Callers allocate only their own length; the padding of a short frame is ours, and zero.
    std::array<std::uint8_t, kMaxFrameLength> buffer{};
    std::copy(frame.begin(), frame.end(), buffer.begin());
    const std::size_t length = std::max(frame.size(), kMinFrameLength);

    auto completion = std::make_shared<SendCompletion>();
    const WriteCallback callback = [completion](std::uint32_t, std::uint32_t, IoBlock*) {
        {
            std::lock_guard lock(completion->mutex);
            completion->completed = true;
        }
        completion->done.notify_all();
    };
    std::uint32_t written = 0;
    const bool accepted = m_library.PlcWriteFrame(rec->handle, buffer.data(), static_cast<std::uint32_t>(length),
                                                  &written, &m_sendIo, callback);
    if (!accepted) {
        const std::uint32_t error = m_library.PlcLastError();
        if (error != 0 && error != kErrorNotEnoughMemory && error != kErrorIoPending)
            return;
    } else if (m_capture != nullptr) {
        m_capture->write(std::span<const std::uint8_t>(buffer.data(), length));
    }
    std::unique_lock lock(completion->mutex);
    completion->done.wait_for(lock, kSendWait, [&] { return completion->completed; });
}

std::size_t AdapterTable::FetchFrame(std::vector<std::uint8_t>& frame) {
    frame.clear();
    // Frames of other adapters are dropped and the look-through goes on; the bound keeps a flood on another
    // adapter from holding the caller here for good.
    for (int examined = 0; examined < kMaxAdapters * kSlotsPerAdapter; ++examined) {
        PacketArea* area = PollReceiveSlots();
        if (area == nullptr)
            break;
        const int adapterIndex = static_cast<int>(area->adapterIndex);
        ReceiveSlot& slot = record(adapterIndex).slots[area->slotIndex];
        const std::size_t length = std::min<std::size_t>(area->frameLength, kPacketAreaRoom);
        const bool taken = adapterIndex == m_current && length > 0;
        if (taken) {
            frame.reserve(length + 1);
            const std::uint8_t* bytes = frameRoom(*area);
            frame.assign(bytes, bytes + length);
            if (m_capture != nullptr)
                m_capture->write(frame, area->arrivalNanoseconds);
        }
        m_library.PlcReadFrame(record(adapterIndex).handle, area, &slot.bytesTransferred, &slot.io, 0);
        if (taken)
            return length;
    }
    ArmReceiveSlots(m_current);
    return 0;
}

PacketArea* AdapterTable::PollReceiveSlots() {
    for (int r = 0; r < m_count; ++r) {
        AdapterRecord& rec = record(r);
        // The slots are brought up to date first with what has reached the adapter: the look does not depend
        // on when the library's receive thread next gets to run.
        m_library.completeArrivedReads(rec.handle);
        for (int s = 0; s < kSlotsPerAdapter; ++s) {
            ReceiveSlot& slot = rec.slots[static_cast<std::size_t>(s)];
            if (!slot.io.eventCreated)
                continue;
            if (slot.area.status.load(std::memory_order_acquire) != kStatusStored)
                continue;
            slot.area.adapterIndex = static_cast<std::uint32_t>(r);
            slot.area.slotIndex = static_cast<std::uint32_t>(s);
            slot.area.status.store(kStatusPending, std::memory_order_relaxed);
            return &slot.area;
        }
    }
    return nullptr;
}

void AdapterTable::ArmReceiveSlots(int adapterIndex) {
    if (adapterIndex < 0 || adapterIndex >= m_count)
        return;
    AdapterRecord& rec = record(adapterIndex);
    for (ReceiveSlot& slot : rec.slots) {
        if (!slot.io.eventCreated)
            continue;
        // The library must never hold two reads for one slot, and a slot that holds a frame not yet taken is
        // left for the poll, which re-arms it once it has taken the frame. The pending flag is read first: the
        // library clears it only after it has stored the frame's status.
        if (slot.io.pending.load(std::memory_order_acquire))
            continue;
        if (slot.area.status.load(std::memory_order_acquire) == kStatusStored)
            continue;
        m_library.PlcReadFrame(rec.handle, &slot.area, &slot.bytesTransferred, &slot.io, 0);
    }
}

void AdapterTable::waitForFrame(std::chrono::steady_clock::time_point deadline) {
    m_library.waitForCompletion(deadline, m_seenCompletions);
}

int AdapterTable::findInterface(const std::string& interfaceName) const {
    for (int i = 0; i < m_count; ++i)
        if (record(i).interfaceName == interfaceName)
            return i;
    return -1;
}

} // namespace zrq406::link
