#include "app/session.h"

#include "link/capabilities.h"
#include "link/link_backend.h"
#include "platform/text_field.h"
#include "sim/network.h"

#include <filesystem>

namespace zrq406::app {

namespace {
// The pause between closing the adapters and opening them again after the host's adapters changed.
constexpr double kReopenPauseMs = 500;
} // namespace

std::string missingCapabilityText(const std::vector<std::string>& missing, const std::string& program,
                                  const std::string& helper) {
    if (!helper.empty())
        return std::string("reaching the adapters needs ") + kLinkHelperCapability + ", which only the frame helper " +
               helper + " holds, and only root and the members of the group " + kLinkGroup +
               " may run it; join the group once with: sudo adduser $USER " + kLinkGroup +
               ", then log in again (or try --simulate)";
    // On the direct path libpcap opens the raw socket and puts the interface into promiscuous mode.
    std::string names;
    for (const auto& name : missing)
        names += (names.empty() ? "" : " and ") + name +
                 (name == "CAP_NET_RAW"     ? " (raw frames)"
                  : name == "CAP_NET_ADMIN" ? " (promiscuous mode)"
                                            : "");
    return "reaching the adapters through libpcap needs " + names +
           "; run as root, or grant them once with: sudo setcap cap_net_raw,cap_net_admin+ep \"$(command -v " +
           program + ")\" (or try --simulate)";
}

Session::Session(MessageService& messages, CLoadUISetting& texts, link::LinkMode mode, std::string programName)
    : m_messages(messages), m_texts(texts), m_mode(mode), m_programName(std::move(programName)),
      m_pacing(Pacing::fromEnvironment()) {}

Session::~Session() {
    // The adapters close before the simulated network that feeds them goes away.
    m_operations.reset();
    m_discovery.reset();
    m_exchange.reset();
    m_adapters.reset();
    m_library.reset();
    m_network.reset();
}

OpenResult Session::open(const LinkOptions& options) {
    m_options = options;
    std::shared_ptr<link::LinkBackend> backend;
    if (options.simulate) {
        std::optional<std::string> path;
        if (!options.simulate->empty())
            path = *options.simulate;
        std::string error;
        m_network = sim::Network::load(path, error);
        if (!m_network)
            return {OpenFailure::BadNetworkFile, error, {}, {}};
        backend = m_network->backend();
    } else {
        // Root, or a program given the capabilities by hand, keeps the direct path; anyone else goes through the
        // frame helper when allowed to run it.
        const auto missing = link::missingCapabilities();
        const std::filesystem::path helper = link::linkHelperPath();
        if (missing.empty()) {
            backend = link::makePcapBackend();
        } else if (link::linkHelperUsable(helper)) {
            backend = link::makeHelperBackend(helper);
        } else {
            // With the helper installed the way in is its group, and the one capability that way needs is the
            // helper's; without it, what this program lacks of the direct path's two.
            const std::string installed = std::filesystem::exists(helper) ? helper.string() : std::string();
            const std::vector<std::string> needed =
                installed.empty() ? missing : std::vector<std::string>{kLinkHelperCapability};
            return {OpenFailure::MissingCapability, missingCapabilityText(needed, m_programName, installed), needed,
                    installed};
        }
    }
    m_library = std::make_unique<link::PacketLibrary>(backend);
    m_adapters = std::make_unique<link::AdapterTable>(*m_library, m_mode);
    if (!options.capturePath.empty()) {
        m_capture = std::make_unique<link::CaptureFile>();
        std::string error;
        if (!m_capture->open(options.capturePath, error))
            return {OpenFailure::BadCaptureFile, error, {}, {}};
        m_adapters->setCapture(m_capture.get());
    }
    m_exchange = std::make_unique<mme::Exchange>(*m_adapters, m_pacing);
    m_discovery = std::make_unique<mme::Discovery>(*m_exchange);
    m_operations = std::make_unique<mme::DeviceOperations>(*m_exchange, m_progress);
    return openAdapters();
}

OpenResult Session::openAdapters() {
    if (!m_adapters->OpenAdapters() || m_adapters->count() == 0)
        return {OpenFailure::NoAdapter, "no usable Ethernet adapter was found", {}, {}};
    if (!m_options.interfaceName.empty() && onlyAdapter() < 0)
        return {OpenFailure::UnknownInterface,
                "the adapter " + m_options.interfaceName + " is not among the usable Ethernet adapters",
                {},
                {}};
    return {};
}

OpenResult Session::reopenAdapters() {
    if (!isOpen())
        return {OpenFailure::NoAdapter, "no usable Ethernet adapter was found", {}, {}};
    m_adapters->CloseAdapters();
    m_pacing.sleep(kReopenPauseMs);
    return openAdapters();
}

std::vector<std::string> Session::adapterTexts() const {
    std::vector<std::string> texts;
    if (!isOpen())
        return texts;
    for (int i = 0; i < m_adapters->count(); ++i)
        texts.push_back(fieldText(m_adapters->record(i).text));
    return texts;
}

int Session::onlyAdapter() const {
    if (!isOpen() || m_options.interfaceName.empty())
        return -1;
    return m_adapters->findInterface(m_options.interfaceName);
}

void Session::noteLocalDeviceConfirmed() {
    const link::AdapterRecord* adapter = hasCurrentAdapter() ? m_adapters->current() : nullptr;
    m_localConfirmedIn = adapter != nullptr ? m_runner.operation() : 0;
    m_localConfirmed = adapter != nullptr ? adapter->localDeviceMac : MacAddress{};
}

bool Session::localDeviceConfirmed() const {
    if (!hasCurrentAdapter() || m_localConfirmedIn == 0 || m_localConfirmedIn != m_runner.operation())
        return false;
    const MacAddress attached = m_adapters->current()->localDeviceMac;
    return !attached.isZero() && attached == m_localConfirmed;
}

bool Session::hasCurrentAdapter() const {
    return isOpen() && m_adapters->currentAdapter() >= 0 && m_adapters->currentAdapter() < m_adapters->count();
}

} // namespace zrq406::app
