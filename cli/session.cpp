#include "cli/session.h"

#include "link/capabilities.h"
#include "link/sim_segment.h"
#include "sim/network.h"

#include <cstdlib>

namespace zrq406::cli {

Session::Session() : m_pacing(Pacing::fromEnvironment()) {}

Session::~Session() {
    // The adapters close before the simulated network that feeds them goes away.
    m_operations.reset();
    m_discovery.reset();
    m_exchange.reset();
    m_adapters.reset();
    m_library.reset();
    m_network.reset();
}

bool Session::open(const LinkOptions& options, std::string& error, int& exitCode) {
    exitCode = 1;
    m_interfaceName = options.interfaceName;
    std::shared_ptr<link::LinkBackend> backend;
    if (options.simulate) {
        std::optional<std::string> path;
        if (!options.simulate->empty())
            path = *options.simulate;
        m_network = sim::Network::load(path, error);
        if (!m_network) {
            exitCode = 2;
            return false;
        }
        backend = m_network->backend();
    } else {
        const auto missing = link::missingCapabilities();
        if (!missing.empty()) {
            std::string names;
            for (const auto& name : missing)
                names += (names.empty() ? "" : " and ") + name;
            error = "reaching the adapters needs " + names +
                    "; run as root, or grant them once with: sudo setcap cap_net_raw,cap_net_admin+ep "
                    "\"$(command -v zrq406)\" (or try --simulate)";
            return false;
        }
        backend = link::makePcapBackend();
    }
    m_library = std::make_unique<link::PacketLibrary>(backend);
    m_adapters = std::make_unique<link::AdapterTable>(*m_library, link::LinkMode::Utility);
    if (!options.capturePath.empty()) {
        m_capture = std::make_unique<link::CaptureFile>();
        if (!m_capture->open(options.capturePath, error)) {
            exitCode = 2;
            return false;
        }
        m_adapters->setCapture(m_capture.get());
    }
    if (!m_adapters->OpenAdapters() || m_adapters->count() == 0) {
        error = "no usable Ethernet adapter was found";
        return false;
    }
    if (!m_interfaceName.empty() && m_adapters->findInterface(m_interfaceName) < 0) {
        error = "the adapter " + m_interfaceName + " is not among the usable Ethernet adapters";
        exitCode = 2;
        return false;
    }
    m_exchange = std::make_unique<mme::Exchange>(*m_adapters, m_pacing);
    m_discovery = std::make_unique<mme::Discovery>(*m_exchange);
    m_operations = std::make_unique<mme::DeviceOperations>(*m_exchange, m_progress);
    return true;
}

bool Session::findLocalDevice(std::string& error) {
    const int only = m_interfaceName.empty() ? -1 : m_adapters->findInterface(m_interfaceName);
    for (int i = 0; i < m_adapters->count(); ++i) {
        if (only >= 0 && i != only)
            continue;
        m_result.clear();
        if (m_discovery->ScanNetwork(i, m_result))
            return true;
    }
    m_result.clear();
    error =
        only >= 0 ? "no powerline device answers on " + m_interfaceName : "no powerline device answers on any adapter";
    return false;
}

} // namespace zrq406::cli
