// The link table of a simulated network at real speed: every station asked at once, beside the sum and the
// maximum of the stations' single answer times, with and without a station that never answers.
#include "app/link_table.h"
#include "app/scan_cycle.h"
#include "app/session.h"
#include "mme/frame_builder.h"
#include "sim/network_file.h"
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

class QuietMessages : public MessageService {
public:
    MessageAnswer show(const Message&) override { return MessageAnswer::Ok; }
};

std::string macOf(int i) {
    char mac[24];
    std::snprintf(mac, sizeof mac, "00:b0:52:5c:00:%02x", i);
    return mac;
}

// `stations` devices in all, the local one first; remote latencies spread from 2 to 14 ms so that the sum and the
// maximum of the answer times differ; the last one drops every network information request when `silent`.
nlohmann::json networkOf(int stations, bool silent) {
    nlohmann::json devices = nlohmann::json::array();
    for (int i = 1; i <= stations; ++i) {
        nlohmann::json d{{"mac", macOf(i)}, {"position", 12.0 * i}};
        if (i > 1)
            d["latencyMs"] = 2 + (i * 5) % 13;
        if (silent && i == stations)
            d["faults"] = nlohmann::json::array({{{"kind", "drop"}, {"message", "network-info"}, {"share", 1}}});
        devices.push_back(d);
    }
    return {{"hostAdapters", {{{"name", "sim0"}, {"device", macOf(1)}}}}, {"devices", devices}};
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void measure(int stations, bool silent, int rounds) {
    const auto dir = std::filesystem::temp_directory_path() / ("zrq406-bench-links-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    std::ofstream(dir / "network.json") << networkOf(stations, silent).dump();
    QuietMessages messages;
    CLoadUISetting texts(messages, UiTextMode::Utility, "bench");
    app::Session session(messages, texts);
    app::LinkOptions options;
    options.simulate = (dir / "network.json").string();
    const app::OperationLease operation = session.runner().begin();
    if (!session.open(options) || !app::runScan(session, "bench").found) {
        std::fprintf(stderr, "bench: the simulated network did not answer\n");
        std::exit(2);
    }
    const int listed = static_cast<int>(session.discoveryResult().local.stationCount) + 1;

    // Each station's answer on its own, the best of a few tries.
    std::vector<MacAddress> macs{session.discoveryResult().local.mac};
    for (std::uint32_t i = 0; i < session.discoveryResult().local.stationCount; ++i)
        macs.push_back(session.discoveryResult().local.stations[i].mac);
    double sum = 0;
    double slowest = 0;
    for (const MacAddress& mac : macs) {
        double best = 1e9;
        for (int k = 0; k < 5; ++k) {
            const mme::Frame request = mme::buildNetworkInfoRequest(mac, session.adapters().current()->hostMac);
            const auto start = std::chrono::steady_clock::now();
            const auto answer = session.exchange().runAll(std::vector<mme::Frame>{request}, mme::timing::kNetworkInfo);
            if (answer[0])
                best = std::min(best, millisecondsSince(start));
        }
        if (best < 1e9) {
            sum += best;
            slowest = std::max(slowest, best);
        }
    }

    std::vector<double> times;
    std::size_t silentCount = 0;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const app::LinkTable table = app::readLinkTable(session);
        times.push_back(millisecondsSince(start));
        silentCount = table.silent.size();
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    const double target = 1.5 * slowest + (silentCount > 0 ? mme::timing::kNetworkInfo.initialWaitMs : 0);
    std::printf("links, %2d stations%s  ours %6.1f ms (median of %d, best %.1f)  answers: sum %6.1f ms, slowest "
                "%5.1f ms  target %6.1f ms (x%.2f of it)  %zu silent\n",
                listed, silent ? ", 1 silent" : "         ", median, rounds, times.front(), sum, slowest, target,
                median / target, silentCount);
    std::filesystem::remove_all(dir);
}

} // namespace

int main() {
    setenv("ZRQ406_TIME_SCALE", "1", 1);
    for (const int stations : {4, 16}) {
        measure(stations, false, 20);
        measure(stations, true, 10);
    }
    return 0;
}
