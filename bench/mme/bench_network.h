#pragma once

#include "link/adapter_link.h"
#include "link/packet_library.h"
#include "mme/device_operations.h"
#include "mme/discovery.h"
#include "mme/exchange.h"
#include "platform/pacing.h"
#include "sim/network.h"
#include "sim/network_file.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

namespace zrq406::bench {

// The programs' stack over a simulated network at real speed (no shrinking of waits).
struct BenchStack {
    std::unique_ptr<sim::Network> network;
    std::unique_ptr<link::PacketLibrary> library;
    std::unique_ptr<link::AdapterTable> adapters;
    Pacing pacing{1.0};
    std::unique_ptr<mme::Exchange> exchange;
    std::unique_ptr<mme::Discovery> discovery;
    mme::Progress progress;
    std::unique_ptr<mme::DeviceOperations> operations;

    explicit BenchStack(const nlohmann::json& description) {
        std::string error;
        network = sim::Network::fromJson(description.dump(), error);
        if (!network) {
            std::fprintf(stderr, "bench: %s\n", error.c_str());
            std::exit(2);
        }
        library = std::make_unique<link::PacketLibrary>(network->backend());
        adapters = std::make_unique<link::AdapterTable>(*library, link::LinkMode::Utility);
        if (!adapters->OpenAdapters()) {
            std::fprintf(stderr, "bench: the simulated adapter did not open\n");
            std::exit(2);
        }
        exchange = std::make_unique<mme::Exchange>(*adapters, pacing);
        discovery = std::make_unique<mme::Discovery>(*exchange);
        operations = std::make_unique<mme::DeviceOperations>(*exchange, progress);
    }
    ~BenchStack() {
        operations.reset();
        discovery.reset();
        exchange.reset();
        adapters.reset();
        library.reset();
        network.reset();
    }
};

inline nlohmann::json builtInNetwork() {
    setenv("ZRQ406_TIME_SCALE", "1", 1);
    return nlohmann::json::parse(sim::NetworkFile::builtInText());
}

inline double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace zrq406::bench
