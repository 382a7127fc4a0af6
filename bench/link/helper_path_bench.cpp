// The frame helper's path against the direct one, over a veth pair to a simulated network in a network namespace
// at full time: the discovery scan (median of several) and a 1 MiB firmware write, each through libpcap in this
// process and through zrq406-link. The helper adds one socket-pair hop each way per frame. Needs root.
#include "link/adapter_link.h"
#include "link/link_backend.h"
#include "link/packet_library.h"
#include "mme/device_operations.h"
#include "mme/discovery.h"
#include "mme/exchange.h"
#include "platform/pacing.h"
#include "sim/firmware_image.h"
#include "sim/network_file.h"
#include "sim/simulator.h"
#include "tests/support/interface_subset_backend.h"
#include "tests/support/namespace_child.h"
#include "tests/support/netns_veth.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace zrq406;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Figures {
    double scanMs = -1;
    double writeMs = -1;
};

Figures measure(std::shared_ptr<link::LinkBackend> backend, const std::string& interfaceName) {
    link::PacketLibrary library(
        std::make_shared<testsupport::InterfaceSubsetBackend>(std::move(backend), std::vector{interfaceName}));
    link::AdapterTable adapters(library, link::LinkMode::Utility);
    if (!adapters.OpenAdapters() || adapters.count() != 1)
        return {};
    Pacing pacing{1.0};
    mme::Exchange exchange(adapters, pacing);
    mme::Discovery discovery(exchange);
    mme::Progress progress;
    mme::DeviceOperations operations(exchange, progress);

    std::vector<double> scans;
    mme::DiscoveryResult result;
    for (int i = 0; i < 7; ++i) {
        const auto start = Clock::now();
        if (!discovery.ScanNetwork(0, result) || result.stationTable.count != 3)
            return {};
        scans.push_back(msSince(start));
    }
    std::sort(scans.begin(), scans.end());
    const std::size_t size = 1024 * 1024;
    const auto image = sim::makeFirmwareImage("ZRQPLC1-MAC-3-3-3348-00-2800-CE-0800", size);
    const auto start = Clock::now();
    if (!operations.WriteModule(mme::kModuleFirmware, 0, static_cast<double>(size), result.local.mac, image))
        return {scans[scans.size() / 2], -1};
    return {scans[scans.size() / 2], msSince(start)};
}

} // namespace

int main() {
    setenv("ZRQ406_TIME_SCALE", "1", 1);
    const char* helperEnv = std::getenv("ZRQ406_LINK_HELPER");
    const std::filesystem::path helper = helperEnv != nullptr ? helperEnv : ZRQ406_BENCH_LINK_HELPER;
    std::string reason;
    auto veth = testsupport::NetnsVeth::create(reason);
    if (!veth) {
        std::printf("helper path: skipped: %s\n", reason.c_str());
        return 0;
    }
    const auto network = std::filesystem::temp_directory_path() / ("zrq406-helper-bench-" + std::to_string(getpid()));
    std::ofstream(network) << sim::NetworkFile::builtInText();
    const std::string peer = veth->peerEnd();
    const std::string networkFile = network.string();
    auto child = testsupport::NamespaceChild::start(
        *veth,
        [peer, networkFile](testsupport::LineChannel& parent) {
            std::atomic<bool> stop{false};
            std::ostringstream log;
            int code = 0;
            std::thread simulator([&] {
                code = sim::runSimulator(peer, networkFile, true, stop, log);
                stop = true;
            });
            parent.sendLine("ready");
            while (!stop) {
                const auto line = parent.receiveLine(Clock::now() + std::chrono::milliseconds(100));
                if (line && *line == "quit")
                    stop = true;
            }
            simulator.join();
            return code;
        },
        reason);
    if (!child || !child->channel().receiveLine(Clock::now() + std::chrono::seconds(10))) {
        std::printf("helper path: the simulator did not start: %s\n", reason.c_str());
        return 2;
    }
    // The simulator opens its end a little after saying it is ready; the first scan that answers shows it has.
    for (int i = 0; i < 50 && measure(link::makePcapBackend(), veth->hostEnd()).scanMs < 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));

    const Figures direct = measure(link::makePcapBackend(), veth->hostEnd());
    const Figures helped = measure(link::makeHelperBackend(helper), veth->hostEnd());
    child->channel().sendLine("quit");
    child->wait(Clock::now() + std::chrono::seconds(10));
    std::filesystem::remove(network);
    if (direct.scanMs < 0 || helped.scanMs < 0 || direct.writeMs < 0 || helped.writeMs < 0) {
        std::printf("helper path: a scan or the write failed (direct %.0f/%.0f ms, helper %.0f/%.0f ms)\n",
                    direct.scanMs, direct.writeMs, helped.scanMs, helped.writeMs);
        return 1;
    }
    std::printf("scan over veth (median of 7)   direct %7.1f ms  helper %7.1f ms  (%+.1f %%; target: within 5 %%)\n",
                direct.scanMs, helped.scanMs, (helped.scanMs / direct.scanMs - 1) * 100);
    std::printf("1 MiB firmware write over veth direct %7.1f ms  helper %7.1f ms  (%+.1f %%; target: within 5 %%)\n",
                direct.writeMs, helped.writeMs, (helped.writeMs / direct.writeMs - 1) * 100);
    return 0;
}
