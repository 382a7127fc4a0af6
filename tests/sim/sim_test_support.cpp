#include "tests/sim/sim_test_support.h"

#include "mme/confirmations.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace zrq406::sim::test {

namespace {

// Run by hand, the tests shrink the devices' waits as ctest does.
[[maybe_unused]] const bool kScaleSet = [] {
    ::setenv("ZRQ406_TIME_SCALE", "0.02", 0);
    return true;
}();

} // namespace

HostPort::HostPort(std::shared_ptr<link::SimSegment> segment, MacAddress mac)
    : m_segment(std::move(segment)), m_inbox(std::make_shared<link::TimedFrameQueue>(4096)), m_mac(mac) {
    m_port = m_segment->attach(
        [inbox = m_inbox](std::span<const std::uint8_t> frame, link::SimSegment::Clock::time_point arrives) {
            inbox->push(frame, arrives);
        });
}

HostPort::~HostPort() {
    m_segment->detach(m_port);
}

void HostPort::send(const mme::Frame& frame) {
    m_segment->transmit(m_port, frame);
}

std::optional<mme::Frame> HostPort::next(std::chrono::milliseconds timeout) {
    mme::Frame frame(1600);
    const int length = m_inbox->take(frame, timeout);
    if (length <= 0)
        return std::nullopt;
    frame.resize(static_cast<std::size_t>(length));
    return frame;
}

std::optional<mme::Frame> HostPort::exchange(const mme::Frame& request, std::chrono::milliseconds timeout) {
    send(request);
    return next(timeout);
}

std::vector<mme::Frame> HostPort::drain(std::chrono::milliseconds quiet) {
    std::vector<mme::Frame> frames;
    while (auto frame = next(quiet))
        frames.push_back(std::move(*frame));
    return frames;
}

std::unique_ptr<Network> makeNetwork(const std::string& json) {
    std::string error;
    auto network = Network::fromJson(json, error);
    EXPECT_TRUE(network) << error;
    return network;
}

std::shared_ptr<link::SimSegment> firstSegment(Network& network) {
    return network.hostAdapters().at(0).segment;
}

bool waitUntilAnswering(HostPort& host, const MacAddress& device, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        host.send(mme::buildSoftwareVersionRequest(device, host.mac()));
        if (auto frame = host.next(20ms)) {
            host.drain(20ms);
            return true;
        }
    }
    return false;
}

std::optional<std::vector<std::uint8_t>> readConfigBlock(HostPort& host, const MacAddress& device) {
    std::vector<std::uint8_t> block(16384, 0);
    std::size_t total = 1024;
    for (std::size_t offset = 0; offset < total;) {
        const auto length = static_cast<std::uint16_t>(std::min<std::size_t>(1024, total - offset));
        const auto frame = host.exchange(mme::buildReadModuleRequest(device, host.mac(), mme::kModuleConfig, length,
                                                                     static_cast<std::uint32_t>(offset)));
        if (!frame || !mme::matchesConfirmation(*frame, 0xA025, &host.mac()))
            return std::nullopt;
        const auto confirm = mme::parseReadModule(*frame, length);
        if (!confirm || confirm->status != 0)
            return std::nullopt;
        std::copy(confirm->data.begin(), confirm->data.end(), block.begin() + static_cast<std::ptrdiff_t>(offset));
        if (offset == 0)
            total = mme::getU16le(block, 4);
        offset += length;
    }
    block.resize(total);
    return block;
}

std::vector<std::uint8_t> writeModule(HostPort& host, const MacAddress& device, std::uint8_t module,
                                      const std::vector<std::uint8_t>& image, std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> statuses;
    for (std::size_t offset = 0; offset < image.size(); offset += 1024) {
        const std::size_t length = std::min<std::size_t>(1024, image.size() - offset);
        const auto block = std::span<const std::uint8_t>(image).subspan(offset, length);
        const auto status = statusOf(host.exchange(
            mme::buildWriteModuleRequest(device, host.mac(), module, static_cast<std::uint32_t>(offset), block),
            timeout));
        if (!status)
            break;
        statuses.push_back(*status);
    }
    return statuses;
}

std::optional<std::uint8_t> statusOf(const std::optional<mme::Frame>& frame) {
    if (!frame)
        return std::nullopt;
    return mme::parseStatus(*frame);
}

MacAddress mac(const char* text) {
    return *MacAddress::parse(text);
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zrq406-sim-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr)
        m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

} // namespace zrq406::sim::test
