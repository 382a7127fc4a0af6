#pragma once

#include "link/adapter_link.h"
#include "link/capture_file.h"
#include "link/packet_library.h"
#include "mme/device_operations.h"
#include "mme/discovery.h"
#include "mme/exchange.h"
#include "mme/progress.h"
#include "platform/pacing.h"

#include <memory>
#include <optional>
#include <string>

namespace zrq406::sim {
class Network;
}

namespace zrq406::cli {

// How the command line asked to reach the devices.
struct LinkOptions {
    std::string interfaceName;           // --interface
    std::optional<std::string> simulate; // --simulate[=FILE]: "" for the built-in network
    std::string capturePath;             // --capture
};

// What one run of the tool works with: the packet library over real or simulated adapters, the adapter
// table and the protocol objects above it.
class Session {
public:
    Session();
    ~Session();

    // Opens the adapters. On failure `error` says why and `exitCode` is 1 (host) or 2 (bad input file).
    bool open(const LinkOptions& options, std::string& error, int& exitCode);
    // Picks the adapter to work on: the one named by --interface, else the first whose local device answers.
    // Fills discovery for it.
    bool findLocalDevice(std::string& error);

    const Pacing& pacing() const { return m_pacing; }
    link::AdapterTable& adapters() { return *m_adapters; }
    mme::Exchange& exchange() { return *m_exchange; }
    mme::Discovery& discovery() { return *m_discovery; }
    mme::DeviceOperations& operations() { return *m_operations; }
    mme::Progress& progress() { return m_progress; }
    mme::DiscoveryResult& discoveryResult() { return m_result; }
    bool simulated() const { return m_network != nullptr; }

private:
    Pacing m_pacing;
    std::unique_ptr<sim::Network> m_network;
    std::unique_ptr<link::PacketLibrary> m_library;
    std::unique_ptr<link::AdapterTable> m_adapters;
    std::unique_ptr<link::CaptureFile> m_capture;
    std::unique_ptr<mme::Exchange> m_exchange;
    std::unique_ptr<mme::Discovery> m_discovery;
    std::unique_ptr<mme::DeviceOperations> m_operations;
    mme::Progress m_progress;
    mme::DiscoveryResult m_result;
    std::string m_interfaceName;
};

} // namespace zrq406::cli
