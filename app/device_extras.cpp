#include "app/device_extras.h"

#include "app/scan_cycle.h"
#include "app/session.h"
#include "mme/frame_builder.h"
#include "platform/text_field.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <thread>

namespace zrq406::app {

namespace {

constexpr double kTickMs = 1000;
constexpr double kAnswerRetryMs = 1000;

std::set<MacAddress> stationsOf(const mme::DiscoveryResult& result) {
    std::set<MacAddress> stations{result.local.mac};
    const std::uint32_t count = std::min<std::uint32_t>(result.local.stationCount, mme::kMaxStations);
    for (std::uint32_t i = 0; i < count; ++i)
        stations.insert(result.local.stations[i].mac);
    return stations;
}

std::string scanNameOf(Session& session, const MacAddress& mac) {
    const ScanTable& scan = session.registry().scanTable();
    for (int i = 0; i < scan.count; ++i) {
        if (fieldText(scan.entries[i].mac) == mac.text())
            return fieldText(scan.entries[i].name);
    }
    return {};
}

HostList hostListOf(const std::optional<mme::HostsConfirm>& confirm, HardwareMakers& makers) {
    HostList list;
    if (!confirm)
        return list;
    list.answered = true;
    list.status = confirm->status;
    for (const mme::HostEntry& entry : confirm->hosts)
        list.hosts.push_back(HostInfo{entry.mac, entry.id, makers.makerOf(entry.mac).value_or(std::string())});
    return list;
}

} // namespace

MacAddress pushButtonTarget(Session& session, const std::optional<MacAddress>& device) {
    if (device)
        return *device;
    const link::AdapterRecord* adapter = session.adapters().current();
    return adapter != nullptr ? adapter->localDeviceMac : MacAddress{};
}

std::optional<mme::PushButtonConfirm> pushButton(Session& session, const std::optional<MacAddress>& device,
                                                 mme::PushButtonAction action) {
    const MacAddress target = pushButtonTarget(session, device);
    if (target.isZero())
        return std::nullopt;
    return session.operations().PushButton(target, action);
}

JoinOutcome joinNetwork(Session& session, const std::optional<MacAddress>& device, const std::string& scanTime,
                        const JoinProgress& progress) {
    JoinOutcome outcome;
    const std::set<MacAddress> before = stationsOf(session.discoveryResult());
    const int adapter = session.adapters().currentAdapter();
    const auto pressed = pushButton(session, device, mme::PushButtonAction::Join);
    if (!pressed || pressed->status != 0) {
        outcome.status = pressed ? pressed->status : 0;
        return outcome;
    }
    const Pacing& pacing = session.pacing();
    const auto start = Pacing::Clock::now();
    const auto end = start + pacing.scaled(kPairingWindowMs);
    auto nextScan = start + pacing.scaled(kPairingScanMs);
    for (;;) {
        const auto now = Pacing::Clock::now();
        const double leftMs =
            std::chrono::duration<double, std::milli>(end - now).count() / std::max(pacing.scale(), 1e-9);
        if (progress && !progress(std::max(0, static_cast<int>(std::ceil(leftMs / 1000)))))
            return outcome.result = JoinOutcome::Stopped, outcome;
        if (now >= nextScan) {
            nextScan += pacing.scaled(kPairingScanMs);
            if (findLocalDevice(session, adapter) >= 0) {
                for (const MacAddress& station : stationsOf(session.discoveryResult())) {
                    if (before.contains(station))
                        continue;
                    // Named as the scan lists it: the name the history holds for it, or the one it is given now.
                    buildScanRecords(session, scanTime);
                    outcome.result = JoinOutcome::Joined;
                    outcome.newStation = station;
                    outcome.name = scanNameOf(session, station);
                    return outcome;
                }
            }
        }
        if (now >= end)
            return outcome.result = JoinOutcome::TimedOut, outcome;
        // Waits a second at most, and no further than the next search or the end.
        const auto wake = std::min({Pacing::Clock::now() + pacing.scaled(kTickMs), nextScan, end});
        std::this_thread::sleep_until(wake);
    }
}

RestartResult restartAndWait(Session& session, const MacAddress& device) {
    if (!session.operations().Restart(device))
        return RestartResult::Refused;
    const Pacing& pacing = session.pacing();
    pacing.sleep(kRestartWaitMs);
    const link::AdapterRecord* adapter = session.adapters().current();
    if (adapter == nullptr)
        return RestartResult::NotBack;
    const MacAddress host = adapter->hostMac;
    const auto giveUp = Pacing::Clock::now() + pacing.scaled(kRestartAnswerMs);
    for (;;) {
        const auto answer = session.exchange().run(mme::buildSoftwareVersionRequest(device, host),
                                                   mme::MmType::SoftwareVersion, mme::timing::kSoftwareVersion);
        if (answer && mme::parseSoftwareVersion(*answer))
            return RestartResult::Done;
        if (Pacing::Clock::now() >= giveUp)
            return RestartResult::NotBack;
        pacing.sleep(kAnswerRetryMs);
    }
}

HostList hostsBehind(Session& session, const MacAddress& device, HardwareMakers& makers) {
    return hostListOf(session.operations().Hosts(device), makers);
}

HostsByDevice readHostsOfAll(Session& session, const std::vector<MacAddress>& devices, HardwareMakers& makers) {
    HostsByDevice result;
    const link::AdapterRecord* adapter = session.isOpen() ? session.adapters().current() : nullptr;
    if (adapter == nullptr || devices.empty())
        return result;
    std::vector<mme::Frame> requests;
    for (const MacAddress& device : devices)
        requests.push_back(mme::buildHostsRequest(device, adapter->hostMac));
    const auto frames = session.exchange().runAll(requests, mme::timing::kHosts);
    for (std::size_t i = 0; i < devices.size() && i < frames.size(); ++i) {
        HostList list = hostListOf(frames[i] ? mme::parseHosts(*frames[i]) : std::nullopt, makers);
        if (list.answered)
            result[devices[i]] = std::move(list);
    }
    return result;
}

std::string hostsText(const HostList& list, const std::string& heading, const std::string& none) {
    // A refusal tells nothing of the hosts.
    if (!list.answered || list.status != 0)
        return {};
    if (list.hosts.empty())
        return none;
    std::string text = heading;
    for (const HostInfo& host : list.hosts)
        text += "\n" + host.mac.text() + (host.maker.empty() ? std::string() : " (" + host.maker + ")");
    return text;
}

std::optional<bool> networkUsesPublicKey(const ScanBuildResult& built) {
    return built.localKeyIsDefault;
}

} // namespace zrq406::app
