// Memory of zrq406 monitor over many scans: the monitor's per-scan path (a scan through the runner into the link
// history, the alerts, the configs and states for the broker) on the built-in simulated network, with scaled time.
// Prints the resident set size at the start, along the way and at the end; it should stay flat. The scans follow
// each other as fast as the simulated devices answer, on a clock that advances 120 s per scan.
//   bench_monitor_memory [SCANS] [--no-history]   (default 10000; --no-history records nothing, for comparison)
#include "app/monitor_scanner.h"
#include "app/session.h"
#include "uitext/load_ui_setting.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace zrq406;

// The scans' clock: each scan comes the monitor's default interval after the one before, so that the link history,
// its pruning and the alerts' 24-hour medians see 10,000 scans as two weeks, as a running monitor would. Every
// time() of the program's own code (the history's scan times included) reads it.
static std::time_t g_now = 1'800'000'000;
extern "C" std::time_t time(std::time_t* out) noexcept {
    if (out != nullptr)
        *out = g_now;
    return g_now;
}

namespace {

constexpr std::time_t kInterval = 120;

class QuietMessages : public MessageService {
public:
    MessageAnswer show(const Message&) override { return MessageAnswer::Ok; }
};

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    const long scans = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
    setenv("ZRQ406_TIME_SCALE", "0.001", 0);
    const auto dir = std::filesystem::temp_directory_path() / ("zrq406-bench-monitor-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    setenv("ZRQ406_LINK_HISTORY", (dir / "link-history.db").c_str(), 1);

    QuietMessages messages;
    CLoadUISetting texts(messages, UiTextMode::Utility, "bench");
    app::Session session(messages, texts);
    session.registry().setHistoryPath(dir / "devices.dat");
    const bool history = !(argc > 2 && std::string(argv[2]) == "--no-history");
    session.scanRecorder().setPath(history ? dir / "link-history.db" : std::filesystem::path());
    app::LinkOptions options;
    options.simulate = std::string();
    if (!session.open(options)) {
        std::fprintf(stderr, "bench: the simulated network did not open\n");
        return 2;
    }
    app::MonitorIdentity identity;
    identity.host = session.adapters().record(0).hostMac;
    app::MonitorScanner scanner(session, identity, 30, {});

    const auto start = std::chrono::steady_clock::now();
    std::size_t messageCount = 0;
    long startKiB = 0;
    for (long i = 0; i < scans; ++i) {
        g_now += kInterval;
        const app::MonitorStep step = scanner.scan(std::time(nullptr));
        messageCount += step.messages.size();
        // After the first scans the caches (the history's pages, the language texts) are warm.
        if (i == 9) {
            startKiB = residentKiB();
            std::printf("scan %6ld: RSS %ld KiB (start)\n", i + 1, startKiB);
        } else if ((i + 1) % std::max(scans / 10, 1L) == 0) {
            std::printf("scan %6ld: RSS %ld KiB, %.1f ms per scan\n", i + 1, residentKiB(),
                        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() /
                            static_cast<double>(i + 1));
        }
        std::fflush(stdout);
    }
    const long endKiB = residentKiB();
    std::printf("%ld scans, %zu messages: RSS %ld KiB at the start, %ld KiB at the end (%+ld KiB)\n", scans,
                messageCount, startKiB, endKiB, endKiB - startKiB);
    std::filesystem::remove_all(dir);
    return 0;
}
