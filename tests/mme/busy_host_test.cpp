// Discovery and device operations over the simulated network on a host too busy to run every thread in time:
// whether an exchange succeeds depends on when its confirmation arrived, not on when a thread got the processor.
#include "link/adapter_link.h"
#include "link/packet_library.h"
#include "mme/device_operations.h"
#include "mme/discovery.h"
#include "mme/key_derivation.h"
#include "sim/network.h"
#include "sim/network_file.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

using namespace zrq406;
using namespace zrq406::mme;

namespace {

const MacAddress kRemote = *MacAddress::parse("00:b0:52:5a:00:02");
constexpr char kRemotePassword[] = "GTNE-WHFU-YBSK-QCLM";
constexpr std::uint32_t kStations = 3;

// What a busy host holds back, and for how long.
struct Hold {
    std::chrono::milliseconds duration;
    bool waits = false; // every third blocking wait of the receive thread
    bool sends = false; // every send, before the frame goes out
};

// A port held back as a busy host holds back the threads that use it. While the receive thread is held, the
// frames are in the port all the same, and a take that does not wait finds them.
class HeldBackPort : public link::LinkPort {
public:
    HeldBackPort(std::unique_ptr<link::LinkPort> inner, Hold hold) : m_inner(std::move(inner)), m_hold(hold) {}
    std::optional<MacAddress> hardwareAddress() override { return m_inner->hardwareAddress(); }
    bool setFilter(std::span<const link::BpfInstruction> program) override { return m_inner->setFilter(program); }
    bool setPromiscuous(bool on) override { return m_inner->setPromiscuous(on); }
    bool send(std::span<const std::uint8_t> frame) override {
        if (m_hold.sends)
            std::this_thread::sleep_for(m_hold.duration);
        return m_inner->send(frame);
    }
    int receive(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override {
        holdBack(timeout);
        return m_inner->receive(buffer, timeout);
    }
    int waitReadable(std::chrono::milliseconds timeout) override {
        holdBack(timeout);
        return m_inner->waitReadable(timeout);
    }
    void interrupt() override { m_inner->interrupt(); }

private:
    // Every third wait, so that the scans see both a thread that keeps up and one that does not.
    void holdBack(std::chrono::milliseconds timeout) {
        if (m_hold.waits && timeout.count() > 0 && ++m_waits % 3 == 0)
            std::this_thread::sleep_for(m_hold.duration);
    }

    std::unique_ptr<link::LinkPort> m_inner;
    Hold m_hold;
    int m_waits = 0;
};

class HeldBackBackend : public link::LinkBackend {
public:
    HeldBackBackend(std::shared_ptr<link::LinkBackend> inner, Hold hold) : m_inner(std::move(inner)), m_hold(hold) {}
    std::vector<link::InterfaceInfo> hostInterfaces() override { return m_inner->hostInterfaces(); }
    std::vector<std::string> libraryInterfaces() override { return m_inner->libraryInterfaces(); }
    std::unique_ptr<link::LinkPort> open(const std::string& name, std::string& error) override {
        auto port = m_inner->open(name, error);
        return port ? std::make_unique<HeldBackPort>(std::move(port), m_hold) : nullptr;
    }

private:
    std::shared_ptr<link::LinkBackend> m_inner;
    Hold m_hold;
};

// The programs' stack over a backend.
struct Stack {
    explicit Stack(std::shared_ptr<link::LinkBackend> backend)
        : library(std::move(backend)), adapters(library, link::LinkMode::Utility), exchange(adapters, pacing),
          discovery(exchange), operations(exchange, progress) {
        EXPECT_TRUE(adapters.OpenAdapters());
    }
    link::PacketLibrary library;
    link::AdapterTable adapters;
    Pacing pacing = Pacing::fromEnvironment();
    Exchange exchange;
    Discovery discovery;
    Progress progress;
    DeviceOperations operations;
};

// How long the software version exchange, the longest of a scan, waits for its confirmation.
std::chrono::milliseconds versionWait() {
    const Pacing pacing = Pacing::fromEnvironment();
    return std::chrono::ceil<std::chrono::milliseconds>(pacing.deadlineAfter(timing::kSoftwareVersion.initialWaitMs) -
                                                        Pacing::Clock::now());
}

// The built-in network; `attachedLatency`, when given, is how long the attached device takes to answer.
std::unique_ptr<sim::Network> builtInNetwork(std::optional<std::chrono::milliseconds> attachedLatency = {}) {
    auto description = nlohmann::json::parse(sim::NetworkFile::builtInText());
    if (attachedLatency) {
        // The network scales what it is given as the programs do; this is the latency once scaled.
        const double unscaled = static_cast<double>(attachedLatency->count()) / Pacing::environmentScale();
        description["settings"]["attachedLatencyMs"] = unscaled;
    }
    std::string error;
    auto network = sim::Network::fromJson(description.dump(), error);
    EXPECT_TRUE(network) << error;
    return network;
}

// A copy of the built-in network's description in a file of its own, removed again at the end.
struct NetworkFileCopy {
    NetworkFileCopy() { std::ofstream(path) << sim::NetworkFile::builtInText(); }
    ~NetworkFileCopy() {
        std::filesystem::remove(path);
        std::filesystem::remove(path.string() + ".lock");
    }
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("zrq406-busy-host-" + std::to_string(getpid()) + ".json");
};

// Holds the lock with which programs that share a network file take turns at saving it.
class StateFileLock {
public:
    explicit StateFileLock(const std::filesystem::path& file)
        : m_fd(::open((file.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        EXPECT_GE(m_fd, 0);
        EXPECT_EQ(::flock(m_fd, LOCK_EX), 0);
    }
    ~StateFileLock() {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
    }
    StateFileLock(const StateFileLock&) = delete;
    StateFileLock& operator=(const StateFileLock&) = delete;

private:
    int m_fd;
};

} // namespace

TEST(BusyHost, RepeatedScansFindEveryStationWhileTheReceiveThreadIsHeldBack) {
    const auto network = builtInNetwork();
    ASSERT_TRUE(network);
    Stack stack(std::make_shared<HeldBackBackend>(network->backend(), Hold{3 * versionWait(), true, false}));
    for (int scan = 1; scan <= 10; ++scan) {
        DiscoveryResult result;
        ASSERT_TRUE(stack.discovery.ScanNetwork(0, result)) << "scan " << scan;
        ASSERT_EQ(result.local.stationCount, kStations) << "scan " << scan;
    }
}

TEST(BusyHost, TheWaitForAConfirmationStartsOnceTheRequestHasGoneOut) {
    // The device answers late in the wait, and the request takes longer than the whole wait to go out.
    const auto wait = versionWait();
    const auto network = builtInNetwork(wait * 4 / 5);
    ASSERT_TRUE(network);
    Stack stack(std::make_shared<HeldBackBackend>(network->backend(), Hold{2 * wait, false, true}));
    LocalNetworkRecord record;
    EXPECT_TRUE(stack.discovery.QuerySoftwareVersion(nullptr, record));
}

TEST(BusyHost, DevicesAnswerWhileTheSimulatorsOwnThreadIsHeldUp) {
    const NetworkFileCopy file;
    std::string error;
    const auto network = sim::Network::load(file.path.string(), error);
    ASSERT_TRUE(network) << error;
    {
        // Another program sharing the file saves meanwhile: the network's saving thread waits for the lock.
        const StateFileLock otherProgram(file.path);
        Stack stack(network->backend());
        DiscoveryResult result;
        ASSERT_TRUE(stack.discovery.ScanNetwork(0, result));
        // Forwarding a key changes the remote device, which the network then saves.
        ASSERT_TRUE(stack.operations.SetRemoteKey(kRemotePassword, DeriveNmk("HomePlugAV"), kRemote));
        for (int scan = 1; scan <= 3; ++scan) {
            ASSERT_TRUE(stack.discovery.ScanNetwork(0, result)) << "scan " << scan;
            ASSERT_EQ(result.local.stationCount, kStations) << "scan " << scan;
        }
    }
}
