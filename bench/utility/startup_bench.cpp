// The configuration utility from process start to its first filled device list, on the built-in simulated network
// at full time (ZRQ406_TIME_SCALE=1), beside its floor: the start-up scan's 2000 ms pause, the local-device
// address's deadline and one answer time for each round of answers that the scan waits for.
#include "gui/file_dialogs.h"
#include "platform/paths.h"
#include "uitext/language_choice.h"
#include "uitext/load_ui_setting.h"
#include "utility/main_dialog.h"
#include "utility/network_page.h"
#include "utility/utility_context.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace zrq406;

namespace {

// Milliseconds since this process started (the kernel counts its start in clock ticks since boot).
double sinceProcessStart() {
    std::ifstream in("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i < 22 && fields >> field; ++i) {
    }
    unsigned long long startTicks = 0;
    fields >> startTicks;
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
    return nowMs - static_cast<double>(startTicks) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Answers every box at once: the upgrade offer of the built-in network is declined, as a user might.
class AnsweringService : public MessageService {
public:
    MessageAnswer show(const Message& message) override {
        return message.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
};

} // namespace

int main(int argc, char** argv) {
    setenv("ZRQ406_TIME_SCALE", "1", 1);
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The simulated network's state and the history go into a folder of the benchmark's own.
    const auto dir = std::filesystem::temp_directory_path() / ("zrq406-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);

    QApplication application(argc, argv);
    AnsweringService messages;
    QtFileDialogs files;
    CLoadUISetting texts(messages, UiTextMode::Utility, "bench");
    texts.LoadXMLFile(paths::dataFile("English.xml").string());
    utility::UtilityContext context(messages, texts, files, false);
    context.linkOptions.simulate = std::string();
    context.session.registry().setHistoryPath(dir / "devices.dat");
    utility::CHomePlugDeviceManagerDlg dialog(context);
    double shownAt = -1;
    int devices = 0;
    QObject::connect(dialog.networkPage(), &utility::CNetworkPage::devicesShown, [&](int count) {
        if (shownAt < 0) {
            shownAt = sinceProcessStart();
            devices = count;
            QTimer::singleShot(0, &dialog, [&] { dialog.done(0); });
        }
    });
    dialog.show();
    if (!dialog.start())
        return 1;
    QTimer::singleShot(30000, &dialog, [&] { dialog.done(0); });
    dialog.exec();
    dialog.workers().waitForIdle();
    std::filesystem::remove_all(dir);
    if (shownAt < 0) {
        std::printf("utility start-up: no device list within 30 s\n");
        return 1;
    }
    // The scan waits out the local-device address's deadline (400 ms: every answer to it is gathered), then the
    // local device's attributes and two network informations (1 ms each), and one round of remote answers (5 ms on
    // the built-in network, every station at once) each for the stations' versions, their attributes, the first
    // configuration block, the LED block, the link table and the hosts behind each device.
    const double latencies = 400.0 + 3 * 1.0 + 6 * 5.0;
    const double floor = 2000.0 + latencies;
    std::printf("utility start-up to first device list: %.0f ms (%d devices)  floor %.0f ms (2000 ms pause + %.0f ms "
                "deadline and answers)  over the floor %.0f ms (target: at most 300)\n",
                shownAt, devices, floor, latencies, shownAt - floor);
    return 0;
}
