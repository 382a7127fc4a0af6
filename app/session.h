#pragma once

#include "app/link_health.h"
#include "app/link_table.h"
#include "app/operation_runner.h"
#include "app/scan_recorder.h"
#include "link/adapter_link.h"
#include "link/capture_file.h"
#include "link/packet_library.h"
#include "mme/device_operations.h"
#include "mme/discovery.h"
#include "mme/exchange.h"
#include "mme/progress.h"
#include "platform/message_service.h"
#include "platform/pacing.h"
#include "registry/device_registry.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zrq406 {
class CLoadUISetting;
}

namespace zrq406::sim {
class Network;
}

namespace zrq406::app {

// How a program was asked to reach the devices.
struct LinkOptions {
    std::string interfaceName;           // only this Ethernet interface ("" for all)
    std::optional<std::string> simulate; // a simulated network: "" for the built-in one, else its file
    std::string capturePath;             // every frame sent and received goes into this pcap file ("" for none)
};

// Why the adapters could not be opened.
enum class OpenFailure {
    None,
    MissingCapability, // neither the raw-frame capabilities nor the frame helper are this program's
    NoAdapter,         // no usable Ethernet adapter
    UnknownInterface,  // the named interface is not among the usable adapters
    BadNetworkFile,    // the simulated network's file cannot be read or is not valid
    BadCaptureFile     // the capture file cannot be written
};

struct OpenResult {
    OpenFailure failure = OpenFailure::None;
    std::string error; // in plain words, for the user
    // What reaching the adapters needs that this program lacks (MissingCapability): on the direct libpcap path
    // CAP_NET_RAW and CAP_NET_ADMIN, as far as it lacks them; with the frame helper installed, only the
    // CAP_NET_RAW that the helper holds for the members of its group.
    std::vector<std::string> missing;
    // The installed frame helper that this user may not run (MissingCapability): joining its group gives access.
    std::string helper;
    explicit operator bool() const { return failure == OpenFailure::None; }
};

// The plain-words explanation of missing raw-frame access: with an installed frame helper (`helper` not empty),
// that it alone holds CAP_NET_RAW and how to join its group; else the capabilities of the direct libpcap path that
// `program` lacks (`missing`) and the command that grants them.
std::string missingCapabilityText(const std::vector<std::string>& missing, const std::string& program,
                                  const std::string& helper = {});
// The system group whose members may run the frame helper.
inline constexpr char kLinkGroup[] = "zrq406";
// The one capability the frame helper holds; the programs that go through it need none.
inline constexpr char kLinkHelperCapability[] = "CAP_NET_RAW";

// What one program works with: the packet library over real or simulated adapters, the adapter table with its
// current adapter, the protocol objects above it, the last discovery result, the device tables, the pacing of
// its fixed waits, its message service and language file, and the operation runner through which every device
// operation goes. One per program; shared by its worker threads, never by two operations at once.
class Session {
public:
    Session(MessageService& messages, CLoadUISetting& texts, link::LinkMode mode = link::LinkMode::Utility,
            std::string programName = "zrq406");
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Opens the link and the adapters. A simulated network is loaded once and kept for the session's life.
    OpenResult open(const LinkOptions& options);
    // The host's adapters changed: closes them, pauses 500 ms and opens them again on the same link.
    OpenResult reopenAdapters();
    // True once open() succeeded (the adapter table exists, though it may hold no adapter after a reopen).
    bool isOpen() const { return m_adapters != nullptr; }

    // The texts of the open adapters (interface description and name), in adapter order.
    std::vector<std::string> adapterTexts() const;
    // The adapter that --interface names, or -1 for all.
    int onlyAdapter() const;
    // True when the current adapter index names an open adapter.
    bool hasCurrentAdapter() const;

    const LinkOptions& options() const { return m_options; }
    const std::string& programName() const { return m_programName; }
    MessageService& messages() { return m_messages; }
    CLoadUISetting& texts() { return m_texts; }
    const Pacing& pacing() const { return m_pacing; }
    link::AdapterTable& adapters() { return *m_adapters; }
    mme::Exchange& exchange() { return *m_exchange; }
    mme::Discovery& discovery() { return *m_discovery; }
    mme::DeviceOperations& operations() { return *m_operations; }
    mme::Progress& progress() { return m_progress; }
    mme::DiscoveryResult& discoveryResult() { return m_result; }
    // The link table read after the last scan (readLinkTable); empty before. Like the discovery result, read it
    // only while holding the operation runner.
    LinkTable& linkTable() { return m_linkTable; }
    // The counters of the local device's links as the last scan read them, so that the next scan's history keeps
    // the PB error rate of the frames in between (countedSince). Read it only while holding the operation runner.
    std::vector<LinkDirectionHealth>& lastLocalHealth() { return m_lastLocalHealth; }
    DeviceRegistry& registry() { return m_registry; }
    // Every device operation holds this runner's lease while it exchanges frames.
    OperationRunner& runner() { return m_runner; }
    // Every scan of the program goes into the link history through this recorder.
    ScanRecorder& scanRecorder() { return m_recorder; }
    bool simulated() const { return m_network != nullptr; }
    // The attached device of the current adapter was confirmed within the running operation: it alone answered the
    // local-device address, and at its own MAC. Keys go to it only then.
    void noteLocalDeviceConfirmed();
    bool localDeviceConfirmed() const;
    sim::Network* network() { return m_network.get(); }

private:
    OpenResult openAdapters();

    MessageService& m_messages;
    CLoadUISetting& m_texts;
    link::LinkMode m_mode;
    std::string m_programName;
    LinkOptions m_options;
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
    LinkTable m_linkTable;
    std::vector<LinkDirectionHealth> m_lastLocalHealth;
    DeviceRegistry m_registry;
    OperationRunner m_runner;
    ScanRecorder m_recorder;
    std::uint64_t m_localConfirmedIn = 0;
    MacAddress m_localConfirmed;
};

} // namespace zrq406::app
