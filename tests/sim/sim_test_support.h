#pragma once

#include "link/sim_segment.h"
#include "link/timed_frame_queue.h"
#include "mme/frame_builder.h"
#include "platform/mac_address.h"
#include "sim/network.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zrq406::sim::test {

using namespace std::chrono_literals;

// Long enough for any answer of the tests' networks to arrive (their latencies are far below it); an answer
// missing after this long is taken as not sent.
constexpr std::chrono::milliseconds kAnswerWindow = 2000ms;
constexpr std::chrono::milliseconds kSilenceWindow = 150ms;

// A scripted host station plugged into a simulated segment: sends what the test builds and keeps every frame
// that reaches it (whatever its destination, as a promiscuous card would).
class HostPort {
public:
    HostPort(std::shared_ptr<link::SimSegment> segment, MacAddress mac);
    ~HostPort();
    HostPort(const HostPort&) = delete;
    HostPort& operator=(const HostPort&) = delete;

    const MacAddress& mac() const { return m_mac; }
    void send(const mme::Frame& frame);
    // The next frame received, waiting up to `timeout`.
    std::optional<mme::Frame> next(std::chrono::milliseconds timeout = kAnswerWindow);
    // Sends `request` and returns the first frame that comes back.
    std::optional<mme::Frame> exchange(const mme::Frame& request, std::chrono::milliseconds timeout = kAnswerWindow);
    // Frames received until nothing more arrived for `quiet`.
    std::vector<mme::Frame> drain(std::chrono::milliseconds quiet = kSilenceWindow);

private:
    std::shared_ptr<link::SimSegment> m_segment;
    // Frames are taken out at the moment they reach the port, as a card would see them.
    std::shared_ptr<link::TimedFrameQueue> m_inbox;
    MacAddress m_mac;
    int m_port = 0;
};

// A network from JSON text; fails the test (and returns nullptr) when it is refused.
std::unique_ptr<Network> makeNetwork(const std::string& json);
// The segment of the network's first host adapter.
std::shared_ptr<link::SimSegment> firstSegment(Network& network);

// Sends a software version request until the device answers again (after a restart); false if it stays silent
// for `limit`.
bool waitUntilAnswering(HostPort& host, const MacAddress& device, std::chrono::milliseconds limit = 20000ms);

// Reads a device's whole configuration block as the programs do, in 1024-byte blocks.
std::optional<std::vector<std::uint8_t>> readConfigBlock(HostPort& host, const MacAddress& device);
// Writes an image into a module in 1024-byte blocks; returns the statuses of the blocks answered, stopping at
// the first block without an answer.
std::vector<std::uint8_t> writeModule(HostPort& host, const MacAddress& device, std::uint8_t module,
                                      const std::vector<std::uint8_t>& image,
                                      std::chrono::milliseconds timeout = kAnswerWindow);
// The status of a confirmation that carries one, or nothing when no answer came.
std::optional<std::uint8_t> statusOf(const std::optional<mme::Frame>& frame);

MacAddress mac(const char* text);
inline const MacAddress kHost = MacAddress{{0x02, 0x00, 0x00, 0x00, 0x00, 0x10}};
inline const MacAddress kOtherHost = MacAddress{{0x02, 0x00, 0x00, 0x00, 0x00, 0x20}};

// A temporary folder removed at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);

} // namespace zrq406::sim::test
