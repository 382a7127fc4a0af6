#include "tests/link/link_test_support.h"

#include <algorithm>
#include <chrono>

namespace zrq406::link::test {

namespace {

// A port that counts itself while it lives.
class CountedPort : public LinkPort {
public:
    CountedPort(std::unique_ptr<LinkPort> inner, std::shared_ptr<std::atomic<int>> count)
        : m_inner(std::move(inner)), m_count(std::move(count)) {
        ++*m_count;
    }
    ~CountedPort() override { --*m_count; }
    std::optional<MacAddress> hardwareAddress() override { return m_inner->hardwareAddress(); }
    bool setFilter(std::span<const BpfInstruction> program) override { return m_inner->setFilter(program); }
    bool setPromiscuous(bool on) override { return m_inner->setPromiscuous(on); }
    bool send(std::span<const std::uint8_t> frame) override { return m_inner->send(frame); }
    int receive(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override {
        return m_inner->receive(buffer, timeout);
    }
    int waitReadable(std::chrono::milliseconds timeout) override { return m_inner->waitReadable(timeout); }
    void interrupt() override { m_inner->interrupt(); }

private:
    std::unique_ptr<LinkPort> m_inner;
    std::shared_ptr<std::atomic<int>> m_count;
};

} // namespace

Endpoint::Endpoint(std::shared_ptr<SimSegment> segment)
    : m_segment(std::move(segment)), m_inbox(std::make_shared<Inbox>()) {
    // Its tests transmit nothing that arrives later than at once.
    m_port = m_segment->attach([inbox = m_inbox](std::span<const std::uint8_t> frame, SimSegment::Clock::time_point) {
        {
            std::lock_guard lock(inbox->mutex);
            inbox->frames.emplace_back(frame.begin(), frame.end());
        }
        inbox->arrived.notify_all();
    });
}

Endpoint::~Endpoint() {
    m_segment->detach(m_port);
}

void Endpoint::transmit(const std::vector<std::uint8_t>& frame) {
    m_segment->transmit(m_port, frame);
}

std::vector<std::vector<std::uint8_t>> Endpoint::received() {
    std::lock_guard lock(m_inbox->mutex);
    return m_inbox->frames;
}

bool Endpoint::waitFor(const std::vector<std::uint8_t>& frame, std::chrono::milliseconds bound) {
    std::unique_lock lock(m_inbox->mutex);
    return m_inbox->arrived.wait_for(lock, bound, [&] {
        return std::find(m_inbox->frames.begin(), m_inbox->frames.end(), frame) != m_inbox->frames.end();
    });
}

std::vector<std::uint8_t> makeFrame(std::size_t length, std::uint16_t etherType, std::uint8_t fill,
                                    MacAddress destination, MacAddress source) {
    std::vector<std::uint8_t> frame(length);
    for (std::size_t i = 0; i < length; ++i)
        frame[i] = static_cast<std::uint8_t>(fill + i * 7);
    for (std::size_t i = 0; i < 6 && i < length; ++i)
        frame[i] = destination.bytes[i];
    for (std::size_t i = 0; i < 6 && 6 + i < length; ++i)
        frame[6 + i] = source.bytes[i];
    if (length > 13) {
        frame[12] = static_cast<std::uint8_t>(etherType >> 8);
        frame[13] = static_cast<std::uint8_t>(etherType & 0xFF);
    }
    return frame;
}

bool waitForCompletions(PacketLibrary& library, std::uint64_t target) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::uint64_t seen = library.completions();
    while (seen < target) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        library.waitForCompletion(deadline, seen);
    }
    return true;
}

SimHostAdapter simAdapter(const std::string& name, std::uint8_t macLastByte, const std::string& description) {
    return {name, description.empty() ? "Simulated Ethernet adapter " + name : description,
            MacAddress{{0x02, 0x00, 0x00, 0x00, 0x00, macLastByte}}, std::make_shared<SimSegment>()};
}

ScriptedBackend::ScriptedBackend(std::vector<SimHostAdapter> adapters) : m_sim(makeSimBackend(std::move(adapters))) {}

std::vector<InterfaceInfo> ScriptedBackend::hostInterfaces() {
    return hostList ? *hostList : m_sim->hostInterfaces();
}

std::vector<std::string> ScriptedBackend::libraryInterfaces() {
    return libraryList ? *libraryList : m_sim->libraryInterfaces();
}

std::unique_ptr<LinkPort> ScriptedBackend::open(const std::string& name, std::string& error) {
    std::unique_ptr<LinkPort> port = m_sim->open(name, error);
    if (!port)
        return nullptr;
    ++m_opened;
    return std::make_unique<CountedPort>(std::move(port), m_openPorts);
}

} // namespace zrq406::link::test
