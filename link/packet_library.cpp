#include "link/packet_library.h"

#include "link/packet_area_room.h"
#include "platform/text_field.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <system_error>
#include <thread>

namespace zrq406::link {

const BpfInstruction kHomePlugFilter[4] = {
    {0x28, 0, 0, 12},         // load the Ethertype
    {0x15, 0, 1, 0x88E1},     // HomePlug AV management?
    {0x06, 0, 0, 0xFFFFFFFF}, // yes: accept the whole frame
    {0x06, 0, 0, 0},          // no: drop it
};

namespace {

// Error codes as the library's callers know them.
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorNotSupported = 50;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorBusy = 170;

constexpr std::uint32_t kRequestQuery = 0;
constexpr std::uint32_t kRequestSet = 1;

// How long a receive thread waits in one call, so that it notices an interrupted port at least this often.
constexpr std::chrono::milliseconds kReceiveWait{100};

struct PendingRead {
    PacketArea* area;
    std::uint32_t* bytesTransferred;
    IoBlock* io;
};

struct OpenAdapter {
    std::unique_ptr<LinkPort> port;
    std::thread thread;
    // Guards `reads`, `closed` and `dropped`; a read is completed, armed and released only under it, and frames
    // are taken from the port only under it, so that they fill the reads in the order the port got them.
    std::mutex mutex;
    std::deque<PendingRead> reads;
    bool closed = false;
    std::array<std::uint8_t, kPacketAreaRoom> dropped{}; // where a frame goes that finds no read armed
};

struct AdapterItem {
    std::string interfaceName;
    std::string description;
};

struct Enumeration {
    std::vector<int> items;
    std::size_t next = 0;
};

std::uint64_t wallClockNanoseconds() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

} // namespace

struct PacketLibrary::Impl {
    std::shared_ptr<LinkBackend> backend;

    std::mutex mutex; // enumerations, items and the handle table
    std::map<int, Enumeration> enumerations;
    std::map<int, AdapterItem> items;
    std::map<PlcHandle, std::shared_ptr<OpenAdapter>> adapters;
    int nextEnumeration = 1;
    int nextItem = 1;
    PlcHandle nextHandle = 1;

    std::atomic<std::uint32_t> lastError{0};

    mutable std::mutex completionMutex;
    std::condition_variable completionChanged;
    std::uint64_t completionCount = 0;

    std::mutex eventMutex;
    int eventFailureCountdown = 0;

    std::shared_ptr<OpenAdapter> find(PlcHandle handle) {
        std::lock_guard lock(mutex);
        const auto it = adapters.find(handle);
        return it == adapters.end() ? nullptr : it->second;
    }

    bool fail(std::uint32_t error) {
        lastError.store(error);
        return false;
    }

    void receiveLoop(OpenAdapter& adapter);
    void completeArrived(OpenAdapter& adapter);
    void closeAdapter(const std::shared_ptr<OpenAdapter>& adapter);
};

void PacketLibrary::Impl::receiveLoop(OpenAdapter& adapter) {
    for (;;) {
        const int ready = adapter.port->waitReadable(kReceiveWait);
        if (ready < 0)
            return;
        if (ready > 0)
            completeArrived(adapter);
    }
}

void PacketLibrary::Impl::completeArrived(OpenAdapter& adapter) {
    constexpr std::chrono::milliseconds kNoWait{0};
    std::uint64_t completed = 0;
    {
        std::lock_guard lock(adapter.mutex);
        while (!adapter.closed) {
            // Like a network card's receive buffers: with no read armed the frame is gone.
            if (adapter.reads.empty()) {
                if (adapter.port->receive(adapter.dropped, kNoWait) <= 0)
                    break;
                continue;
            }
            const PendingRead read = adapter.reads.front();
            const int received =
                adapter.port->receive(std::span<std::uint8_t>(frameRoom(*read.area), kPacketAreaRoom), kNoWait);
            if (received <= 0)
                break;
            adapter.reads.pop_front();
            const auto length =
                static_cast<std::uint32_t>(std::min(static_cast<std::size_t>(received), kPacketAreaRoom));
            read.area->frameLength = length;
            read.area->arrivalNanoseconds = wallClockNanoseconds();
            if (read.bytesTransferred != nullptr)
                *read.bytesTransferred = length;
            // The status goes before the pending flag: whoever sees the read no longer pending also sees the
            // stored frame, and so never arms a slot that still holds one.
            read.area->status.store(kStatusStored, std::memory_order_release);
            read.io->pending.store(false, std::memory_order_release);
            ++completed;
        }
    }
    if (completed == 0)
        return;
    {
        std::lock_guard lock(completionMutex);
        completionCount += completed;
    }
    completionChanged.notify_all();
}

void PacketLibrary::Impl::closeAdapter(const std::shared_ptr<OpenAdapter>& adapter) {
    adapter->port->interrupt();
    if (adapter->thread.joinable())
        adapter->thread.join();
    std::lock_guard lock(adapter->mutex);
    adapter->closed = true;
    for (const PendingRead& read : adapter->reads)
        read.io->pending.store(false, std::memory_order_release);
    adapter->reads.clear();
}

PacketLibrary::PacketLibrary(std::shared_ptr<LinkBackend> backend) : m_impl(std::make_unique<Impl>()) {
    m_impl->backend = std::move(backend);
}

PacketLibrary::~PacketLibrary() {
    std::map<PlcHandle, std::shared_ptr<OpenAdapter>> adapters;
    {
        std::lock_guard lock(m_impl->mutex);
        adapters.swap(m_impl->adapters);
    }
    for (auto& [handle, adapter] : adapters)
        m_impl->closeAdapter(adapter);
}

int PacketLibrary::PlcBeginEnum() {
    if (!m_impl->backend)
        return -1;
    const std::vector<std::string> names = m_impl->backend->libraryInterfaces();
    const std::vector<InterfaceInfo> hosts = m_impl->backend->hostInterfaces();
    std::lock_guard lock(m_impl->mutex);
    const int id = m_impl->nextEnumeration++;
    Enumeration& enumeration = m_impl->enumerations[id];
    for (const std::string& name : names) {
        AdapterItem item{name, name};
        // The backend lists names only; the description is the one the host gives the interface, if any.
        const auto host = std::find_if(hosts.begin(), hosts.end(), [&](const auto& h) { return h.name == name; });
        if (host != hosts.end() && !host->description.empty())
            item.description = host->description;
        const int itemId = m_impl->nextItem++;
        m_impl->items.emplace(itemId, std::move(item));
        enumeration.items.push_back(itemId);
    }
    return id;
}

int PacketLibrary::PlcFirstAdapter(int enumeration) {
    std::lock_guard lock(m_impl->mutex);
    const auto it = m_impl->enumerations.find(enumeration);
    if (it == m_impl->enumerations.end() || it->second.items.empty())
        return -1;
    it->second.next = 1;
    return it->second.items.front();
}

int PacketLibrary::PlcNextAdapter(int enumeration) {
    std::lock_guard lock(m_impl->mutex);
    const auto it = m_impl->enumerations.find(enumeration);
    if (it == m_impl->enumerations.end() || it->second.next >= it->second.items.size())
        return -1;
    return it->second.items[it->second.next++];
}

std::uint32_t PacketLibrary::PlcGetAdapterName(int item, char* buffer, std::uint32_t* size) {
    if (size == nullptr)
        return kErrorInvalidParameter;
    std::lock_guard lock(m_impl->mutex);
    const auto it = m_impl->items.find(item);
    if (it == m_impl->items.end())
        return kErrorInvalidParameter;
    const std::string name = std::string(kAdapterNamePrefix) + it->second.interfaceName;
    const auto needed = static_cast<std::uint32_t>(name.size() + 1);
    if (buffer == nullptr || *size < needed) {
        *size = needed;
        return kErrorInsufficientBuffer;
    }
    std::memcpy(buffer, name.c_str(), needed);
    *size = needed;
    return 0;
}

std::uint32_t PacketLibrary::PlcGetAdapterDescription(int item, char* buffer, std::uint32_t* size) {
    if (size == nullptr)
        return kErrorInvalidParameter;
    std::lock_guard lock(m_impl->mutex);
    const auto it = m_impl->items.find(item);
    if (it == m_impl->items.end())
        return kErrorInvalidParameter;
    const std::string& description = it->second.description;
    if (buffer == nullptr || *size == 0) {
        *size = static_cast<std::uint32_t>(description.size() + 1);
        return kErrorInsufficientBuffer;
    }
    // A description longer than the caller's buffer is cut on a character boundary, like every fixed field.
    copyToField(buffer, *size, description);
    *size = static_cast<std::uint32_t>(std::strlen(buffer) + 1);
    return 0;
}

void PacketLibrary::PlcReleaseAdapterItem(int item) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->items.erase(item);
}

void PacketLibrary::PlcEndEnum(int enumeration) {
    std::lock_guard lock(m_impl->mutex);
    const auto it = m_impl->enumerations.find(enumeration);
    if (it == m_impl->enumerations.end())
        return;
    for (const int item : it->second.items)
        m_impl->items.erase(item);
    m_impl->enumerations.erase(it);
}

PlcHandle PacketLibrary::PlcOpenAdapter(const std::string& name) {
    const std::string prefix = kAdapterNamePrefix;
    if (!m_impl->backend || name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
        m_impl->fail(kErrorFileNotFound);
        return kInvalidHandle;
    }
    std::string error;
    std::unique_ptr<LinkPort> port = m_impl->backend->open(name.substr(prefix.size()), error);
    if (!port) {
        m_impl->fail(kErrorFileNotFound);
        return kInvalidHandle;
    }
    auto adapter = std::make_shared<OpenAdapter>();
    adapter->port = std::move(port);
    // The thread holds a plain reference: the adapter outlives it, as closing joins it before letting go.
    try {
        adapter->thread = std::thread([impl = m_impl.get(), raw = adapter.get()] { impl->receiveLoop(*raw); });
    } catch (const std::system_error&) {
        m_impl->fail(kErrorNotEnoughMemory);
        return kInvalidHandle;
    }
    std::lock_guard lock(m_impl->mutex);
    const PlcHandle handle = m_impl->nextHandle++;
    m_impl->adapters.emplace(handle, std::move(adapter));
    return handle;
}

void PacketLibrary::PlcCloseAdapter(PlcHandle handle) {
    std::shared_ptr<OpenAdapter> adapter;
    {
        std::lock_guard lock(m_impl->mutex);
        const auto it = m_impl->adapters.find(handle);
        if (it == m_impl->adapters.end()) {
            m_impl->fail(kErrorInvalidHandle);
            return;
        }
        adapter = std::move(it->second);
        m_impl->adapters.erase(it);
    }
    m_impl->closeAdapter(adapter);
}

bool PacketLibrary::PlcAdapterRequest(PlcHandle handle, AdapterRequestBlock& request, IoBlock* io, int /*wait*/) {
    const auto adapter = m_impl->find(handle);
    if (!adapter)
        return m_impl->fail(kErrorInvalidHandle);
    // Requests complete before returning, so the caller's I/O block never stays pending.
    if (io != nullptr)
        io->pending.store(false);
    request.bytesWritten = 0;
    if (request.type == kRequestQuery && request.oid == kOidCurrentAddress) {
        if (request.buffer == nullptr || request.bufferLength < 6) {
            request.bytesNeeded = 6;
            return m_impl->fail(kErrorInsufficientBuffer);
        }
        const std::optional<MacAddress> mac = adapter->port->hardwareAddress();
        if (!mac)
            return m_impl->fail(kErrorGenFailure);
        std::memcpy(request.buffer, mac->bytes.data(), mac->bytes.size());
        request.bytesWritten = 6;
        return true;
    }
    if (request.type == kRequestSet && request.oid == kOidPacketFilter) {
        if (request.buffer == nullptr || request.bufferLength < 4)
            return m_impl->fail(kErrorInvalidParameter);
        std::uint32_t filter = 0;
        std::memcpy(&filter, request.buffer, sizeof filter);
        if (!adapter->port->setPromiscuous((filter & kPacketFilterPromiscuous) != 0))
            return m_impl->fail(kErrorGenFailure);
        request.bytesWritten = 4;
        return true;
    }
    return m_impl->fail(kErrorNotSupported);
}

bool PacketLibrary::PlcSetFrameFilter(PlcHandle handle, const BpfInstruction* program, int programBytes) {
    const auto adapter = m_impl->find(handle);
    if (!adapter)
        return m_impl->fail(kErrorInvalidHandle);
    if (program == nullptr || programBytes <= 0 || programBytes % static_cast<int>(sizeof(BpfInstruction)) != 0)
        return m_impl->fail(kErrorInvalidParameter);
    const std::size_t count = static_cast<std::size_t>(programBytes) / sizeof(BpfInstruction);
    if (!adapter->port->setFilter(std::span<const BpfInstruction>(program, count)))
        return m_impl->fail(kErrorInvalidParameter);
    return true;
}

bool PacketLibrary::PlcReadFrame(PlcHandle handle, PacketArea* area, std::uint32_t* bytesTransferred, IoBlock* io,
                                 int /*flags*/) {
    if (area == nullptr || io == nullptr)
        return m_impl->fail(kErrorInvalidParameter);
    const auto adapter = m_impl->find(handle);
    if (!adapter)
        return m_impl->fail(kErrorInvalidHandle);
    std::lock_guard lock(adapter->mutex);
    if (adapter->closed)
        return m_impl->fail(kErrorInvalidHandle);
    // One read per I/O block: a second one would let two frames race for the same area.
    if (io->pending.load(std::memory_order_acquire))
        return m_impl->fail(kErrorBusy);
    io->pending.store(true, std::memory_order_release);
    adapter->reads.push_back({area, bytesTransferred, io});
    return true;
}

void PacketLibrary::PlcReleaseRead(PlcHandle handle, PacketArea* area) {
    const auto adapter = m_impl->find(handle);
    if (!adapter) {
        m_impl->fail(kErrorInvalidHandle);
        return;
    }
    std::lock_guard lock(adapter->mutex);
    const auto it = std::find_if(adapter->reads.begin(), adapter->reads.end(),
                                 [area](const PendingRead& read) { return read.area == area; });
    if (it == adapter->reads.end())
        return;
    it->io->pending.store(false, std::memory_order_release);
    adapter->reads.erase(it);
}

bool PacketLibrary::PlcWriteFrame(PlcHandle handle, const std::uint8_t* frame, std::uint32_t length,
                                  std::uint32_t* written, IoBlock* io, const WriteCallback& callback) {
    if (frame == nullptr || length == 0)
        return m_impl->fail(kErrorInvalidParameter);
    const auto adapter = m_impl->find(handle);
    if (!adapter)
        return m_impl->fail(kErrorInvalidHandle);
    if (io != nullptr)
        io->pending.store(true);
    if (!adapter->port->send(std::span<const std::uint8_t>(frame, length))) {
        if (io != nullptr)
            io->pending.store(false);
        return m_impl->fail(kErrorGenFailure);
    }
    if (written != nullptr)
        *written = length;
    if (io != nullptr)
        io->pending.store(false);
    if (callback)
        callback(0, length, io);
    return true;
}

std::uint32_t PacketLibrary::PlcLastError() const {
    return m_impl->lastError.load();
}

std::vector<InterfaceInfo> PacketLibrary::hostAdapters() {
    if (!m_impl->backend)
        return {};
    return m_impl->backend->hostInterfaces();
}

void PacketLibrary::waitForCompletion(std::chrono::steady_clock::time_point deadline, std::uint64_t& seen) {
    std::unique_lock lock(m_impl->completionMutex);
    m_impl->completionChanged.wait_until(lock, deadline, [&] { return m_impl->completionCount != seen; });
    seen = m_impl->completionCount;
}

void PacketLibrary::completeArrivedReads(PlcHandle handle) {
    if (const auto adapter = m_impl->find(handle))
        m_impl->completeArrived(*adapter);
}

std::uint64_t PacketLibrary::completions() const {
    std::lock_guard lock(m_impl->completionMutex);
    return m_impl->completionCount;
}

void PacketLibrary::failEventCreation(int nth) {
    std::lock_guard lock(m_impl->eventMutex);
    m_impl->eventFailureCountdown = nth;
}

bool PacketLibrary::createEvent() {
    std::lock_guard lock(m_impl->eventMutex);
    if (m_impl->eventFailureCountdown > 0 && --m_impl->eventFailureCountdown == 0)
        return false;
    return true;
}

} // namespace zrq406::link
