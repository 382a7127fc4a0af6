// Discovery of a simulated network at the devices' default latencies, beside the fixed pacing that waits its
// full time after every request and beside the sum of every answer's latency, which asking the stations one after
// another could not beat (the stations are asked together). Every answer to the local-device address is gathered
// until its deadline (400 ms), so that a second device answering as the attached one is seen: that wait is part of
// both references.
#include "bench_network.h"

#include <algorithm>
#include <vector>

using namespace zrq406;

namespace {

// `silent` of the remote stations are listed by the local device but answer none of their own queries.
nlohmann::json networkOf(int stations, int silent = 0) {
    nlohmann::json net = bench::builtInNetwork();
    if (stations <= 3 && silent == 0)
        return net;
    auto devices = net["devices"];
    const nlohmann::json remote = devices[1];
    nlohmann::json rates = nlohmann::json::object();
    for (int i = 2; i <= stations + 1; ++i) {
        char mac[24];
        std::snprintf(mac, sizeof mac, "00:b0:52:5b:00:%02x", i);
        rates[mac] = {{"tx", 60 + i}, {"rx", 58 + i}};
    }
    nlohmann::json local = devices[0];
    local["rates"] = rates;
    nlohmann::json list = nlohmann::json::array({local});
    for (int i = 2; i <= stations + 1; ++i) {
        nlohmann::json d = remote;
        char mac[24];
        std::snprintf(mac, sizeof mac, "00:b0:52:5b:00:%02x", i);
        d["mac"] = mac;
        d["tei"] = i;
        d.erase("rates");
        if (i - 2 < silent)
            d["faults"] = nlohmann::json::array({{{"kind", "drop"}, {"message", "software-version"}, {"share", 1}}});
        list.push_back(d);
    }
    list[0]["mac"] = "00:b0:52:5b:00:01";
    net["devices"] = list;
    net["hostAdapters"][0]["device"] = "00:b0:52:5b:00:01";
    return net;
}

void measure(const char* name, int stations, int rounds, int silent = 0) {
    bench::BenchStack stack(networkOf(stations, silent));
    const double attached = 1.0;
    const double remote = 5.0;
    // The local-device deadline, then local attributes and two network information answers; version and attributes
    // per station.
    const double latencySum = 400 + 3 * attached + stations * 2 * remote;
    // The fixed waits: 400 + 100 + 100 + 100 ms, and 400 + 100 ms per station.
    const double fixedPacing = 700 + 500.0 * stations;
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        mme::DiscoveryResult result;
        const auto start = std::chrono::steady_clock::now();
        const bool ok = stack.discovery->ScanNetwork(0, result);
        times.push_back(bench::millisecondsSince(start));
        // A silent station is listed as not answering (a scan that drops it finds fewer).
        if (!ok || static_cast<int>(result.local.stationCount) < stations - silent) {
            std::printf("%s: scan failed (%u stations found)\n", name, result.local.stationCount);
            std::exit(1);
        }
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("%-28s stations %2d  ours %7.1f ms (median of %d, best %.1f)  latency sum %6.1f ms (x%.2f)  "
                "fixed pacing %7.0f ms (%.0fx faster)\n",
                name, stations, median, rounds, times.front(), latencySum, median / latencySum, fixedPacing,
                fixedPacing / median);
}

} // namespace

// Stations that stay silent: the queries of all stations are in flight together, so a scan should cost about the
// local-device deadline and one answer time, plus one software version deadline (400 ms) when a station is silent,
// whatever the number of silent stations.
void measureSilent(int silent, int rounds) {
    bench::BenchStack stack(networkOf(16, silent));
    std::vector<double> times;
    std::uint32_t listed = 0;
    for (int i = 0; i < rounds; ++i) {
        mme::DiscoveryResult result;
        const auto start = std::chrono::steady_clock::now();
        stack.discovery->ScanNetwork(0, result);
        times.push_back(bench::millisecondsSince(start));
        listed = result.local.stationCount;
    }
    std::sort(times.begin(), times.end());
    const double reference = 400.0 + 3 * 1.0 + 2 * 5.0 + (silent > 0 ? 400.0 : 0.0);
    std::printf("scan, 16 stations, %2d silent: ours %7.1f ms (median of %d)  answer times + deadlines %6.1f ms  "
                "stations listed %u\n",
                silent, times[times.size() / 2], rounds, reference, listed);
}

int main() {
    measure("scan, built-in network", 3, 20);
    measure("scan, 16-station network", 16, 10);
    for (const int silent : {0, 1, 4, 15})
        measureSilent(silent, 5);
    return 0;
}
