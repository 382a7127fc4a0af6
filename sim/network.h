#pragma once

#include "link/link_backend.h"
#include "link/sim_segment.h"
#include "platform/mac_address.h"
#include "sim/sim_device.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zrq406::sim {

class NetworkFile;

// A simulated powerline network: its devices on one power line, and the host adapters through which the
// programs reach them, each an Ethernet segment with at most one device plugged in. The attached device
// answers its own requests and those sent to 00:B0:52:00:00:01, and carries requests for other devices over
// the power line; those answer when they share its network key. An answer goes onto the segment as soon as the
// request is handled, to reach the host adapter after the devices' latencies (scaled by ZRQ406_TIME_SCALE): it
// is on time however busy the host is. Every change of a device (commit, key, factory reset) is saved to the
// state file, if the network has one, from a thread of the network's own.
class Network {
public:
    ~Network();
    Network(const Network&) = delete;
    Network& operator=(const Network&) = delete;

    // The network of `path`, kept up to date in that file; without a path the built-in network, kept in the
    // state file ($ZRQ406_SIM_STATE, else simulated-network.json in the user's data folder), which is read
    // instead when it exists. Returns nothing and sets `error` (naming the file and the place) for a file that
    // cannot be read or is not a valid description.
    static std::unique_ptr<Network> load(const std::optional<std::string>& path, std::string& error);
    // A network from a description text, saved nowhere (for tests).
    static std::unique_ptr<Network> fromJson(std::string_view text, std::string& error);
    // Where the built-in network keeps its state.
    static std::filesystem::path defaultStatePath();

    // The packet library's backend over this network's host adapters (the same object on every call).
    std::shared_ptr<link::LinkBackend> backend();
    // The host adapters, in description order, each with its segment.
    std::vector<link::SimHostAdapter> hostAdapters() const;
    // The host adapter's segment, or nullptr for an unknown name.
    std::shared_ptr<link::SimSegment> segment(const std::string& hostAdapterName) const;
    // The first host adapter with a device plugged in, if any.
    std::optional<link::SimHostAdapter> firstAttachedAdapter() const;
    // The devices' addresses in description order.
    std::vector<MacAddress> deviceAddresses() const;
    // A copy of a device's current state.
    std::optional<DeviceSnapshot> device(const MacAddress& mac) const;
    // Receives one line per request a device handled: time, device, request, result. Called on the thread
    // that delivered the request; nullptr turns the log off.
    void setRequestLog(std::function<void(const std::string&)> log);
    // The file the state is saved to, if any.
    std::optional<std::filesystem::path> stateFile() const;
    // Saves changes not yet written (also done when the network is destroyed). False with `error` set when the
    // file cannot be written.
    bool flush(std::string& error);

private:
    struct Core;
    Network(NetworkFile file, std::optional<std::filesystem::path> statePath);

    std::shared_ptr<Core> m_core;
};

} // namespace zrq406::sim
