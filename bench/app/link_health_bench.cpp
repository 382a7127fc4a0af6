// Link health of a simulated network at real speed: readLinkHealth for 4 and 16 stations (one question per device
// in flight, all devices together, then each device's next peer) and one carrier map of 6 slots, each beside one
// answer time of the same message.
#include "app/link_health.h"
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

class QuietMessages : public MessageService {
public:
    MessageAnswer show(const Message&) override { return MessageAnswer::Ok; }
};

std::string macOf(int i) {
    char mac[24];
    std::snprintf(mac, sizeof mac, "00:b0:52:5d:00:%02x", i);
    return mac;
}

// `stations` devices, the local one first, each link with 6 carrier map slots; remote latencies from 2 to 14 ms.
nlohmann::json networkOf(int stations) {
    nlohmann::json devices = nlohmann::json::array();
    for (int i = 1; i <= stations; ++i) {
        nlohmann::json d{{"mac", macOf(i)}, {"position", 12.0 * i}};
        if (i > 1)
            d["latencyMs"] = 2 + (i * 5) % 13;
        devices.push_back(d);
    }
    return {{"settings", {{"carrierMapSlots", 6}}},
            {"hostAdapters", {{{"name", "sim0"}, {"device", macOf(1)}}}},
            {"devices", devices}};
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The best of a few single exchanges of `request`.
double oneAnswer(app::Session& session, const mme::Frame& request, const mme::ExchangeTiming& timing) {
    double best = 1e9;
    for (int k = 0; k < 5; ++k) {
        const auto start = std::chrono::steady_clock::now();
        const auto answer = session.exchange().runAll(std::vector<mme::Frame>{request}, timing);
        if (answer[0])
            best = std::min(best, millisecondsSince(start));
    }
    return best;
}

void measure(int stations, int rounds, bool carrierMap) {
    const auto dir = std::filesystem::temp_directory_path() / ("zrq406-bench-health-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    setenv("ZRQ406_LINK_HISTORY", "none", 1);
    std::ofstream(dir / "network.json") << networkOf(stations).dump();
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
    const MacAddress host = session.adapters().current()->hostMac;
    const MacAddress local = session.discoveryResult().local.mac;
    const MacAddress farthest = session.discoveryResult().local.stations[0].mac;

    const double statisticsAnswer =
        oneAnswer(session,
                  mme::buildLinkStatisticsRequest(farthest, host, mme::StatisticsControl::Read,
                                                  mme::StatisticsDirection::Both, mme::kLinkIdOfPeer, local),
                  mme::timing::kLinkStatistics);
    std::vector<double> times;
    std::size_t links = 0;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const app::HealthTable health = app::readLinkHealth(session);
        times.push_back(millisecondsSince(start));
        links = health.links.size();
    }
    std::printf("health, %2d stations, %3zu links  ours %7.1f ms (median of %d)  one statistics answer %5.1f ms "
                "(%d rounds of questions and the link table: x%.1f of it)\n",
                stations, links, median(times), rounds, statisticsAnswer, stations,
                median(times) / statisticsAnswer);

    if (carrierMap) {
        const double mapAnswer =
            oneAnswer(session, mme::buildCarrierMapRequest(local, host, farthest, 0), mme::timing::kCarrierMap);
        std::vector<double> mapTimes;
        app::CarrierMap map;
        for (int i = 0; i < rounds; ++i) {
            const auto start = std::chrono::steady_clock::now();
            if (app::readCarrierMap(session, local, farthest, std::nullopt, map) != app::CarrierMapOutcome::Read) {
                std::fprintf(stderr, "bench: no carrier map\n");
                std::exit(2);
            }
            mapTimes.push_back(millisecondsSince(start));
        }
        std::printf("carrier map, %zu slots            ours %7.1f ms (median of %d)  one carrier map answer %5.1f ms "
                    "(x%.1f of it)\n",
                    map.read.size(), median(mapTimes), rounds, mapAnswer, median(mapTimes) / mapAnswer);
    }
    std::filesystem::remove_all(dir);
}

} // namespace

int main() {
    setenv("ZRQ406_TIME_SCALE", "1", 1);
    measure(4, 10, true);
    measure(16, 5, false);
    return 0;
}
