#include "sim/simulator.h"

#include "link/pcap_bridge.h"
#include "sim/network.h"

#include <mutex>

namespace zrq406::sim {

int runSimulator(const std::string& interfaceName, const std::optional<std::string>& networkFile, bool quiet,
                 const std::atomic<bool>& stop, std::ostream& log) {
    std::mutex logMutex;
    auto write = [&](const std::string& line) {
        std::lock_guard lock(logMutex);
        log << line << '\n' << std::flush;
    };

    std::string error;
    std::unique_ptr<Network> network = Network::load(networkFile, error);
    if (!network) {
        write(error);
        return kSimulatorBadNetwork;
    }
    const auto adapter = network->firstAttachedAdapter();
    if (!adapter) {
        const auto file = network->stateFile();
        write((file ? file->string() + ": " : std::string()) + "no host adapter has a device attached");
        return kSimulatorBadNetwork;
    }
    auto bridge = link::PcapBridge::open(interfaceName, adapter->segment, error);
    if (!bridge) {
        write(error);
        return kSimulatorInterfaceFailed;
    }
    if (!quiet) {
        network->setRequestLog(write);
        const auto file = network->stateFile();
        write("simulating " + std::to_string(network->deviceAddresses().size()) + " devices on " + interfaceName +
              (file ? " (state in " + file->string() + ")" : std::string()));
    }
    bridge->run(stop);
    network->setRequestLog(nullptr);
    bridge.reset();
    if (!network->flush(error))
        write(error);
    return kSimulatorStopped;
}

} // namespace zrq406::sim
