#include "sim/network.h"

#include "mme/mme_frame.h"
#include "platform/pacing.h"
#include "platform/paths.h"
#include "platform/regular_file.h"
#include "sim/fault_injector.h"
#include "sim/link_health.h"
#include "sim/network_file.h"
#include "sim/scheduler.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

namespace zrq406::sim {

namespace fs = std::filesystem;

namespace {

// How long a pressed pair button waits for another.
constexpr double kPairingWindowMs = 120000;

// The shortest frame that carries each request's fixed fields; shorter ones are ignored as malformed.
std::optional<std::size_t> minimumLength(std::uint16_t type) {
    switch (static_cast<mme::MmType>(type)) {
    case mme::MmType::SoftwareVersion:
    case mme::MmType::NetworkInfo:
    case mme::MmType::Attributes:
    case mme::MmType::FactoryReset:
    case mme::MmType::Restart:
    case mme::MmType::Hosts:
        return mme::hdr::kPayload;
    case mme::MmType::PushButton:
        return mme::len::kPushButton;
    case mme::MmType::WriteModule:
        return mme::off::kWrData;
    case mme::MmType::ReadModule:
        return mme::len::kReadModule;
    case mme::MmType::CommitModules:
        return mme::off::kCommitSet + 1;
    case mme::MmType::SetKey:
        return mme::len::kSetKey;
    case mme::MmType::LinkStatistics:
        return mme::len::kLinkStatistics;
    case mme::MmType::CarrierMap:
        return mme::len::kCarrierMap;
    }
    return std::nullopt;
}

std::string clockText() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ms));
    return text;
}

void makeMalformed(mme::Frame& frame, MalformedForm form, const std::string& version) {
    switch (form) {
    case MalformedForm::Short:
        frame.resize(mme::hdr::kPayload + 1);
        break;
    case MalformedForm::Stations: {
        // Claims two more stations than the frame carries, padding included.
        const std::uint8_t listed = frame[mme::off::kNiNetworks] != 0 ? frame[mme::off::kNiStationCount] : 0;
        frame[mme::off::kNiNetworks] = 1;
        frame[mme::off::kNiStationCount] = static_cast<std::uint8_t>(listed + 2);
        break;
    }
    case MalformedForm::Unterminated: {
        // The text runs to the end of the frame and past the longest version text, without a terminator.
        frame.resize(mme::off::kSwVersion + mme::kMaxVersionText);
        frame[mme::off::kSwVersionLength] = static_cast<std::uint8_t>(mme::kMaxVersionText);
        const std::string fill = version.empty() ? std::string("?") : version;
        for (std::size_t i = 0; i < mme::kMaxVersionText; ++i)
            frame[mme::off::kSwVersion + i] = static_cast<std::uint8_t>(fill[i % fill.size()]);
        break;
    }
    case MalformedForm::RepeatedStation: {
        // A refusal or an empty list has no station to repeat.
        const std::uint8_t listed = frame[mme::off::kNiNetworks] != 0 ? frame[mme::off::kNiStationCount] : 0;
        if (listed == 0 || listed == 0xFF)
            break;
        const std::size_t end = mme::off::kNiStations + std::size_t{listed} * mme::off::kNiStationSize;
        frame.resize(std::max(frame.size(), end + mme::off::kNiStationSize));
        std::copy_n(frame.begin() + mme::off::kNiStations, mme::off::kNiStationSize, frame.begin() + end);
        frame[mme::off::kNiStationCount] = static_cast<std::uint8_t>(listed + 1);
        break;
    }
    case MalformedForm::NoChecksum:
        if (frame.size() >= mme::off::kRdCnfChecksum + 4)
            std::fill_n(frame.begin() + mme::off::kRdCnfChecksum, 4, 0);
        break;
    }
}

std::optional<std::string> readWholeFile(const fs::path& path, std::string& error) {
    // A network description is a few kilobytes; anything far larger is not one.
    constexpr std::size_t kLargestNetworkFile = 8u * 1024 * 1024;
    FileReadResult read = readRegularFile(path, kLargestNetworkFile);
    if (!read) {
        error = read.status == FileReadStatus::TooLarge
                    ? path.string() + ": larger than 8 MiB, not a network description"
                    : read.error;
        return std::nullopt;
    }
    return std::move(read.content);
}

} // namespace

struct Network::Core : std::enable_shared_from_this<Network::Core> {
    struct DeviceSlot {
        SimDevice device;
        FaultInjector faults;
        bool attached = false;
    };
    struct Host {
        link::SimHostAdapter adapter;
        std::optional<std::size_t> device;
        int port = 0;
        std::vector<MacAddress> impostors;
    };
    struct Outgoing {
        SimClock::time_point at;
        mme::Frame frame;
    };

    Core(NetworkFile networkFile, std::optional<fs::path> path)
        : pacing(Pacing::fromEnvironment()), file(std::move(networkFile)), statePath(std::move(path)),
          started(SimClock::now()) {}
    ~Core();

    void start();
    void onFrame(std::size_t hostIndex, std::span<const std::uint8_t> frame);
    std::optional<std::size_t> findDevice(const MacAddress& mac) const;
    Answer answer(std::size_t targetIndex, mme::MmType type, const MacAddress& requester,
                  std::span<const std::uint8_t> request, SimClock::time_point now, double& latencyMs,
                  std::optional<std::size_t>& forwardedTo);
    bool save(std::string& error);
    // The push button on the device at `index`; every device whose key it changes is marked changed.
    Answer pushButton(std::size_t index, const MacAddress& requester, std::uint8_t action, SimClock::time_point now);
    // The membership state a device reports: 0 alone on its key, 4 with other devices up on it, 8 as the one the
    // network information names coordinator (the lowest TEI of them).
    std::uint8_t membership(std::size_t index, SimClock::time_point now) const;
    // Simulated milliseconds since the network was loaded: link schedules, drift and counters go by them.
    double elapsedMs(SimClock::time_point now) const {
        return std::chrono::duration<double, std::milli>(now - started).count() / std::max(pacing.scale(), 1e-9);
    }

    mutable std::mutex mutex;
    Pacing pacing;
    NetworkFile file;
    std::optional<fs::path> statePath;
    SimClock::time_point started; // link schedules count from here
    std::vector<DeviceSlot> devices;
    LinkHealth health;
    std::vector<Host> hosts;
    std::shared_ptr<link::LinkBackend> backend;
    std::mt19937_64 random{std::random_device{}()};
    std::set<std::size_t> changed;    // devices whose state is not yet in the document
    std::set<std::size_t> ownDevices; // devices whose state this program has put into the document
    bool documentUnsaved = false;     // the document holds state not yet written
    bool savePosted = false;

    std::mutex logMutex;
    std::function<void(const std::string&)> log;
    std::mutex saveMutex;
    std::string lastSaveError;

    // Last, so that it stops before the rest goes away.
    Scheduler scheduler;
};

Network::Core::~Core() {
    for (const Host& host : hosts) {
        if (host.device)
            host.adapter.segment->detach(host.port);
    }
    scheduler.stop();
    std::string error;
    save(error);
}

void Network::Core::start() {
    const NetworkDescription& description = file.description();
    for (const DeviceDescription& device : description.devices) {
        devices.push_back(DeviceSlot{SimDevice(device), FaultInjector(device.faults), false});
        if (device.pairing)
            devices.back().device.pressPairButton(started, started + pacing.scaled(kPairingWindowMs));
    }
    std::vector<link::SimHostAdapter> adapters;
    for (const HostAdapterDescription& adapter : description.hostAdapters) {
        Host host;
        host.adapter =
            link::SimHostAdapter{adapter.name, adapter.description, adapter.mac, std::make_shared<link::SimSegment>()};
        host.impostors = adapter.impostors;
        if (adapter.device) {
            host.device = findDevice(*adapter.device);
            if (host.device)
                devices[*host.device].attached = true;
        }
        hosts.push_back(host);
        adapters.push_back(host.adapter);
    }
    // The receivers hold the core weakly: a segment may outlive the network, and a frame may be on its way in
    // while the network goes away.
    const std::weak_ptr<Core> weak = weak_from_this();
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        if (!hosts[i].device)
            continue;
        // Host adapters send at once; a request is handled when it is transmitted.
        hosts[i].port = hosts[i].adapter.segment->attach(
            [weak, i](std::span<const std::uint8_t> frame, link::SimSegment::Clock::time_point) {
                if (const auto core = weak.lock())
                    core->onFrame(i, frame);
            });
    }
    backend = link::makeSimBackend(std::move(adapters));
}

std::optional<std::size_t> Network::Core::findDevice(const MacAddress& mac) const {
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (devices[i].device.mac() == mac)
            return i;
    }
    return std::nullopt;
}

Answer Network::Core::answer(std::size_t targetIndex, mme::MmType type, const MacAddress& requester,
                             std::span<const std::uint8_t> request, SimClock::time_point now, double& latencyMs,
                             std::optional<std::size_t>& forwardedTo) {
    SimDevice& target = devices[targetIndex].device;
    switch (type) {
    case mme::MmType::SoftwareVersion:
        return target.softwareVersion(requester, request);
    case mme::MmType::Attributes:
        return target.attributes(requester, request);
    case mme::MmType::ReadModule:
        return target.readModule(requester, request);
    case mme::MmType::WriteModule:
        latencyMs += target.description().flashMsPerBlock;
        return target.writeModule(requester, request);
    case mme::MmType::CommitModules:
        return target.commit(requester, request);
    case mme::MmType::NetworkInfo: {
        std::vector<const SimDevice*> members;
        const mme::Key key = target.nmk();
        for (std::size_t i = 0; i < devices.size(); ++i) {
            const SimDevice& other = devices[i].device;
            if (i != targetIndex && other.isUp(now) && other.nmk() == key)
                members.push_back(&other);
        }
        return target.networkInfo(requester, members, elapsedMs(now));
    }
    case mme::MmType::LinkStatistics:
    case mme::MmType::CarrierMap: {
        // Only a device of its network that is up shares a link with it.
        const bool statistics = type == mme::MmType::LinkStatistics;
        const MacAddress peerMac = *mme::ByteReader(request).mac(statistics ? mme::off::kLsPeer : mme::off::kCmPeer);
        const SimDevice* peer = nullptr;
        if (const auto index = findDevice(peerMac); index && *index != targetIndex &&
                                                    devices[*index].device.isUp(now) &&
                                                    devices[*index].device.nmk() == target.nmk())
            peer = &devices[*index].device;
        return statistics ? health.statistics(target, peer, requester, request, elapsedMs(now))
                          : health.carrierMap(target, peer, requester, request, elapsedMs(now));
    }
    case mme::MmType::SetKey: {
        const std::uint8_t form = request[mme::off::kKeyPeks];
        if (form == mme::kKeyApplyLocal)
            return target.setLocalKey(requester, request);
        if (form != mme::kKeyForwardRemote || request[mme::off::kKeyEks] != 1)
            return target.keyConfirmation(requester, status::kBadParameter,
                                          "status 1 (key form " + std::to_string(form) + ")");
        // The remote form goes over the power line to any device there, whatever its network: the device
        // access key is what lets it in.
        const mme::ByteReader reader(request);
        const MacAddress remote = *reader.mac(mme::off::kKeyRemoteMac);
        mme::Key nmk{};
        mme::Key dak{};
        std::copy_n(request.begin() + mme::off::kKeyNmk, nmk.size(), nmk.begin());
        std::copy_n(request.begin() + mme::off::kKeyDak, dak.size(), dak.begin());
        const auto index = findDevice(remote);
        if (!index || !devices[*index].device.isUp(now))
            return target.keyConfirmation(requester, status::kUnreachable,
                                          "status 9 (" + remote.text() + " does not answer on the power line)");
        latencyMs += devices[*index].device.description().latencyMs;
        if (!devices[*index].device.acceptForwardedKey(nmk, dak))
            return target.keyConfirmation(requester, status::kWrongDak,
                                          "status 8 (" + remote.text() + " refused the device access key)");
        forwardedTo = index;
        return target.keyConfirmation(requester, 0, "key taken by " + remote.text());
    }
    case mme::MmType::FactoryReset:
        return target.factoryReset(requester);
    case mme::MmType::PushButton:
        return pushButton(targetIndex, requester, request[mme::off::kPbAction], now);
    case mme::MmType::Restart:
        return target.restart(requester);
    case mme::MmType::Hosts:
        return target.hosts(requester);
    }
    return target.failure(type, requester, status::kBadParameter);
}

std::uint8_t Network::Core::membership(std::size_t index, SimClock::time_point now) const {
    const SimDevice& device = devices[index].device;
    bool others = false;
    bool lowest = true;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const SimDevice& other = devices[i].device;
        if (i == index || !other.isUp(now) || other.nmk() != device.nmk())
            continue;
        others = true;
        lowest = lowest && device.description().tei < other.description().tei;
    }
    if (!others)
        return 0;
    return lowest ? mme::kMembershipCoordinator : mme::kMembershipAssociated;
}

Answer Network::Core::pushButton(std::size_t index, const MacAddress& requester, std::uint8_t action,
                                 SimClock::time_point now) {
    SimDevice& device = devices[index].device;
    std::string text;
    switch (static_cast<mme::PushButtonAction>(action)) {
    case mme::PushButtonAction::Join: {
        device.pressPairButton(now, now + pacing.scaled(kPairingWindowMs));
        text = "pair button pressed";
        // Two buttons pressed within each other's two minutes pair: a device alone on its key joins the other's
        // network; between two alike, the one pressed first joins the one pressed now.
        for (std::size_t i = 0; i < devices.size(); ++i) {
            SimDevice& other = devices[i].device;
            if (i == index || !other.isUp(now) || !other.pairing(now))
                continue;
            const bool thisAlone = membership(index, now) < mme::kMembershipAssociated;
            const bool otherAlone = membership(i, now) < mme::kMembershipAssociated;
            const std::size_t joining = thisAlone && !otherAlone ? index : i;
            const std::size_t network = joining == index ? i : index;
            if (devices[joining].device.nmk() != devices[network].device.nmk()) {
                devices[joining].device.takeNetworkKey(devices[network].device.nmk());
                changed.insert(joining);
            }
            device.endPairing();
            other.endPairing();
            text = "paired: " + devices[joining].device.mac().text() + " joined the network of " +
                   devices[network].device.mac().text();
            break;
        }
        break;
    }
    case mme::PushButtonAction::Leave: {
        mme::Key key{};
        for (auto& byte : key)
            byte = static_cast<std::uint8_t>(random());
        device.takeNetworkKey(key);
        device.endPairing();
        changed.insert(index);
        text = "left its network (random key)";
        break;
    }
    case mme::PushButtonAction::Status:
        text = device.pairing(now) ? "status (pair button pressed)" : "status";
        break;
    default:
        return device.pushButtonAnswer(requester, status::kBadParameter, membership(index, now),
                                       "status 1 (action " + std::to_string(action) + ")");
    }
    const std::uint8_t state = membership(index, now);
    return device.pushButtonAnswer(requester, 0, state, text + ", membership " + std::to_string(state));
}

void Network::Core::onFrame(std::size_t hostIndex, std::span<const std::uint8_t> frame) {
    const mme::ByteReader reader(frame);
    if (reader.u16be(mme::hdr::kEthertype) != mme::kEthertypeHomePlug ||
        reader.u8(mme::hdr::kVersion) != mme::kMmeVersion)
        return;
    const auto typeValue = reader.u16le(mme::hdr::kMmType);
    if (!typeValue)
        return;
    // Vendor messages carry the vendor's OUI; the push button is a standard message without one.
    if (mme::isVendorMessage(*typeValue)) {
        const auto oui = reader.bytes(mme::hdr::kOui, 3);
        if (!oui || !std::equal(oui->begin(), oui->end(), std::begin(mme::kOui)))
            return;
    }
    // Confirmations (low bits 01) and anything outside the catalogue are not requests.
    const auto minimum = minimumLength(*typeValue);
    if (!minimum || frame.size() < *minimum)
        return;
    const auto type = static_cast<mme::MmType>(*typeValue);
    const MacAddress destination = *reader.mac(mme::hdr::kDestination);
    const MacAddress requester = *reader.mac(mme::hdr::kSource);

    std::vector<Outgoing> outgoing;
    std::string line;
    {
        std::lock_guard lock(mutex);
        const Host& host = hosts[hostIndex];
        if (!host.device || findDevice(requester) || (requester.bytes[0] & 0x01) != 0)
            return;
        const std::size_t attachedIndex = *host.device;
        SimDevice& attached = devices[attachedIndex].device;
        const SimClock::time_point now = SimClock::now();
        if (!attached.isUp(now))
            return;
        std::size_t targetIndex = attachedIndex;
        if (destination != attached.mac() && destination != MacAddress::localDevice()) {
            // Over the power line only to a device of the attached device's network that is up.
            const auto index = findDevice(destination);
            if (!index || !devices[*index].device.isUp(now) || devices[*index].device.nmk() != attached.nmk())
                return;
            targetIndex = *index;
        }
        DeviceSlot& target = devices[targetIndex];

        FaultDecision decision = target.faults.onRequest(type);
        double latencyMs = target.device.description().latencyMs;
        std::optional<std::size_t> forwardedTo;
        Answer reply = decision.failStatus ? target.device.failure(type, requester, *decision.failStatus)
                                           : answer(targetIndex, type, requester, frame, now, latencyMs, forwardedTo);
        if (reply.stateChanged)
            changed.insert(targetIndex);
        if (forwardedTo)
            changed.insert(*forwardedTo);
        if (reply.restartMs > 0)
            target.device.goDown(now + pacing.scaled(latencyMs + reply.restartMs));
        std::string powerNote;
        if (reply.firmwareBlockWritten) {
            if (const auto down = target.faults.onFirmwareBlockWritten()) {
                target.device.goDown(now + pacing.scaled(latencyMs + *down));
                powerNote = "power lost after this block";
            }
        }

        if (decision.malformed)
            makeMalformed(reply.frame, *decision.malformed, target.device.firmware().version);
        if (decision.corruptOffset && *decision.corruptOffset < reply.frame.size())
            reply.frame[*decision.corruptOffset] ^= 0xFF;
        // A hostile host on the segment answers the local-device address first, as the attached device would.
        if (destination == MacAddress::localDevice() && !reply.silent) {
            for (const MacAddress& impostor : host.impostors) {
                mme::Frame copy = reply.frame;
                if (copy.size() >= mme::hdr::kSource + 6)
                    std::copy(impostor.bytes.begin(), impostor.bytes.end(), copy.begin() + mme::hdr::kSource);
                outgoing.push_back(Outgoing{now, std::move(copy)});
            }
        }
        if (!decision.drop && !reply.silent) {
            const SimClock::time_point at = now + pacing.scaled(latencyMs + decision.delayMs);
            for (int i = 0; i < decision.copies; ++i)
                outgoing.push_back(Outgoing{at, reply.frame});
        }

        line =
            clockText() + " " + target.device.mac().text() + " " + std::string(requestName(type)) + " " + reply.result;
        if (destination == MacAddress::localDevice())
            line += " [to 00:b0:52:00:00:01]";
        for (const std::string& note : decision.notes)
            line += "; " + note;
        if (!powerNote.empty())
            line += "; " + powerNote;

        if (!changed.empty() && statePath && !savePosted) {
            savePosted = true;
            scheduler.post(now, [this] {
                std::string error;
                if (!save(error)) {
                    std::lock_guard logLock(logMutex);
                    if (log)
                        log(clockText() + " state not saved: " + error);
                }
            });
        }
    }

    const auto segment = hosts[hostIndex].adapter.segment;
    const int port = hosts[hostIndex].port;
    // Handed over now with the moment they reach the host adapter, rather than sent at that moment by a thread
    // that a busy host may not run in time.
    for (const Outgoing& out : outgoing)
        segment->transmit(port, out.frame, out.at);
    std::lock_guard logLock(logMutex);
    if (log)
        log(line);
}

bool Network::Core::save(std::string& error) {
    std::lock_guard saveLock(saveMutex);
    std::string text;
    fs::path path;
    {
        std::lock_guard lock(mutex);
        savePosted = false;
        if (!statePath)
            return true;
        for (const std::size_t index : changed) {
            file.recordState(index, DeviceState{devices[index].device.configBlock(), devices[index].device.firmware(),
                                                devices[index].device.pairing(SimClock::now())});
            ownDevices.insert(index);
        }
        if (!changed.empty())
            documentUnsaved = true;
        changed.clear();
        if (!documentUnsaved)
            return true;
        path = *statePath;
        documentUnsaved = false;
    }
    // Another program may have saved its own changes since this one loaded the file: under a lock beside the
    // file, only the entries of the devices changed here are written over what the file holds now.
    const std::string lockPath = path.string() + ".lock";
    const int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd >= 0)
        ::flock(lockFd, LOCK_EX);
    std::string ignored;
    const auto onDisk = readWholeFile(path, ignored);
    {
        std::lock_guard lock(mutex);
        text = onDisk ? file.mergedText(*onDisk, ownDevices) : file.text();
    }
    const bool written = NetworkFile::writeText(path, text, error);
    if (lockFd >= 0)
        ::close(lockFd);
    if (written)
        return true;
    std::lock_guard lock(mutex);
    documentUnsaved = true;
    lastSaveError = error;
    return false;
}

Network::Network(NetworkFile file, std::optional<fs::path> statePath)
    : m_core(std::make_shared<Core>(std::move(file), std::move(statePath))) {
    m_core->start();
}

Network::~Network() = default;

fs::path Network::defaultStatePath() {
    if (const char* state = std::getenv("ZRQ406_SIM_STATE"); state != nullptr && *state != '\0')
        return fs::path(state);
    return paths::userDataDir() / "simulated-network.json";
}

std::unique_ptr<Network> Network::load(const std::optional<std::string>& path, std::string& error) {
    fs::path source;
    std::optional<NetworkFile> file;
    if (path && !path->empty()) {
        source = *path;
    } else {
        source = defaultStatePath();
        std::error_code ec;
        if (!fs::exists(source, ec))
            return std::unique_ptr<Network>(new Network(NetworkFile::builtIn(), source));
    }
    const auto text = readWholeFile(source, error);
    if (!text)
        return nullptr;
    file = NetworkFile::parse(*text, source.string(), error);
    if (!file)
        return nullptr;
    return std::unique_ptr<Network>(new Network(std::move(*file), source));
}

std::unique_ptr<Network> Network::fromJson(std::string_view text, std::string& error) {
    auto file = NetworkFile::parse(text, "network description", error);
    if (!file)
        return nullptr;
    return std::unique_ptr<Network>(new Network(std::move(*file), std::nullopt));
}

std::shared_ptr<link::LinkBackend> Network::backend() {
    return m_core->backend;
}

std::vector<link::SimHostAdapter> Network::hostAdapters() const {
    std::vector<link::SimHostAdapter> adapters;
    for (const auto& host : m_core->hosts)
        adapters.push_back(host.adapter);
    return adapters;
}

std::shared_ptr<link::SimSegment> Network::segment(const std::string& hostAdapterName) const {
    for (const auto& host : m_core->hosts) {
        if (host.adapter.name == hostAdapterName)
            return host.adapter.segment;
    }
    return nullptr;
}

std::optional<link::SimHostAdapter> Network::firstAttachedAdapter() const {
    for (const auto& host : m_core->hosts) {
        if (host.device)
            return host.adapter;
    }
    return std::nullopt;
}

std::vector<MacAddress> Network::deviceAddresses() const {
    std::lock_guard lock(m_core->mutex);
    std::vector<MacAddress> macs;
    for (const auto& slot : m_core->devices)
        macs.push_back(slot.device.mac());
    return macs;
}

std::optional<DeviceSnapshot> Network::device(const MacAddress& mac) const {
    std::lock_guard lock(m_core->mutex);
    const auto index = m_core->findDevice(mac);
    if (!index)
        return std::nullopt;
    const auto& slot = m_core->devices[*index];
    DeviceSnapshot snapshot = slot.device.snapshot(SimClock::now());
    snapshot.attached = slot.attached;
    return snapshot;
}

void Network::setRequestLog(std::function<void(const std::string&)> log) {
    std::lock_guard lock(m_core->logMutex);
    m_core->log = std::move(log);
}

std::optional<fs::path> Network::stateFile() const {
    return m_core->statePath;
}

bool Network::flush(std::string& error) {
    return m_core->save(error);
}

} // namespace zrq406::sim
