// What a user waits for when the network is scanned: the whole scan through to the filled device list (discovery,
// every device's configuration fields, the link table and the device tables), at real speed on simulated networks of
// 3, 16 and 64 stations. Printed beside discovery alone and beside the floor: one answer time for each step that
// has to wait for the one before it, however many devices answer in it.
#include "app/scan_cycle.h"
#include "app/session.h"
#include "mme/frame_builder.h"
#include "uitext/load_ui_setting.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <unistd.h>
#include <vector>

using namespace zrq406;

namespace {

constexpr double kAttachedMs = 1.0;
constexpr double kRemoteMs = 5.0;

class QuietMessages : public MessageService {
public:
    MessageAnswer show(const Message&) override { return MessageAnswer::Ok; }
};

std::string macOf(int i) {
    char mac[24];
    std::snprintf(mac, sizeof mac, "00:b0:52:5d:%02x:%02x", i / 256, i % 256);
    return mac;
}

// The local device and `stations` remote ones at the default latencies (1 ms attached, 5 ms remote).
nlohmann::json networkOf(int stations) {
    nlohmann::json devices = nlohmann::json::array();
    for (int i = 1; i <= stations + 1; ++i)
        devices.push_back({{"mac", macOf(i)}, {"position", 10.0 * i}});
    return {{"hostAdapters", {{{"name", "sim0"}, {"device", macOf(1)}}}}, {"devices", devices}};
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

struct Figures {
    double discovery = 0;
    double full = 0;
    double withHistory = 0;
    double answer = 0; // one remote station's answer time, the best of a few
};

Figures measure(int stations, int rounds) {
    const auto dir = std::filesystem::temp_directory_path() / ("zrq406-bench-scan-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    std::ofstream(dir / "network.json") << networkOf(stations).dump();
    QuietMessages messages;
    CLoadUISetting texts(messages, UiTextMode::Utility, "bench");
    app::Session session(messages, texts);
    session.registry().setHistoryPath(dir / "devices.dat");
    app::LinkOptions options;
    options.simulate = (dir / "network.json").string();
    if (!session.open(options)) {
        std::fprintf(stderr, "bench: the simulated network did not open\n");
        std::exit(2);
    }

    std::vector<double> discovery;
    std::vector<double> full;
    std::vector<double> withHistory;
    for (int i = 0; i < rounds; ++i) {
        const app::OperationLease operation = session.runner().begin();
        auto start = std::chrono::steady_clock::now();
        if (app::findLocalDevice(session) < 0) {
            std::fprintf(stderr, "bench: no local device\n");
            std::exit(2);
        }
        discovery.push_back(millisecondsSince(start));

        // The scan as the command line's `scan --no-save` runs it, and as every other program's scan with the link
        // history written.
        session.scanRecorder().setPath({});
        start = std::chrono::steady_clock::now();
        app::ScanReport report = app::runScan(session, "bench");
        full.push_back(millisecondsSince(start));
        session.scanRecorder().setPath(dir / "links.sqlite");
        start = std::chrono::steady_clock::now();
        report = app::runScan(session, "bench");
        withHistory.push_back(millisecondsSince(start));
        if (report.built.devices != stations + 1 || !report.unreadBlocks.empty()) {
            std::fprintf(stderr, "bench: %d of %d devices listed, %zu blocks unread\n", report.built.devices,
                         stations + 1, report.unreadBlocks.size());
            std::exit(2);
        }
    }
    // One answer time: a remote station's network information, asked alone.
    double answer = 1e9;
    const app::OperationLease operation = session.runner().begin();
    const mme::Frame request =
        mme::buildNetworkInfoRequest(session.discoveryResult().local.stations[0].mac, session.adapters().current()->hostMac);
    for (int i = 0; i < 20; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (session.exchange().run(request, mme::MmType::NetworkInfo, mme::timing::kNetworkInfo))
            answer = std::min(answer, millisecondsSince(start));
    }
    std::filesystem::remove_all(dir);
    return {median(discovery), median(full), median(withHistory), answer};
}

} // namespace

int main() {
    setenv("ZRQ406_TIME_SCALE", "1", 1);
    // Discovery: the local-device address's whole deadline (every answer to it is gathered), the local device's
    // attributes and network information, every station's version and then attributes, the network information
    // again. The scan adds two configuration block reads (first block, LED block) and the link table: one answer
    // time each, all devices in flight together.
    const double gather = 400.0;
    const double discoveryFloor = gather + 2 * kAttachedMs + 2 * kRemoteMs + kAttachedMs;
    const double scanFloor = discoveryFloor + 3 * kRemoteMs;
    std::printf("floor: discovery %.0f ms (the local-device deadline %.0f ms and 4 answer times), full scan %.0f ms "
                "(3 answer times of %.0f ms more)\n",
                discoveryFloor, gather, scanFloor, kRemoteMs);
    double sixteen = 0;
    for (const int stations : {3, 16, 64}) {
        const Figures f = measure(stations, stations == 64 ? 5 : 9);
        std::printf("scan, %2d stations: discovery %6.1f ms  full scan %6.1f ms (+%5.1f ms = %.1f answer times of "
                    "%.1f ms measured)  with link history %6.1f ms  floor %5.0f ms (x%.2f)\n",
                    stations, f.discovery, f.full, f.full - f.discovery, (f.full - f.discovery) / f.answer, f.answer,
                    f.withHistory, scanFloor, f.full / scanFloor);
        if (stations == 16)
            sixteen = f.full;
        if (stations == 64)
            std::printf("64 stations take x%.2f the time of 16 (target at most x1.30)\n", f.full / sixteen);
    }
    return 0;
}
