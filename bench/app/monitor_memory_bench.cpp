// Memory of zrq406 monitor over many scans: the monitor's per-scan path (a scan through the runner into the link
// history, the alerts, the configs and states for the broker) on the built-in simulated network, with scaled time.
// Prints the resident set size at the start, along the way and at the end; it should stay flat.
//   bench_monitor_memory [SCANS]   (default 10000)
#include "app/monitor_scanner.h"
#include "app/session.h"
#include "uitext/load_ui_setting.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace zrq406;

namespace {

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
    session.scanRecorder().setPath(dir / "link-history.db");
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
        const app::MonitorStep step = scanner.scan(std::time(nullptr));
        messageCount += step.messages.size();
        // After the first scans the caches (the history's pages, the language texts) are warm.
        if (i == 9) {
            startKiB = residentKiB();
            std::printf("scan %6ld: RSS %ld KiB (start)\n", i + 1, startKiB);
        } else if ((i + 1) % 1000 == 0) {
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
