#include "app/device_actions.h"
#include "app/upgrade_membership.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "link/capabilities.h"
#include "mme/firmware_upgrade.h"
#include "mme/key_derivation.h"
#include "mme/upgrade_file.h"
#include "platform/atomic_file.h"
#include "platform/display_text.h"
#include "platform/regular_file.h"
#include "platform/text_field.h"
#include "sim/simulator.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>
#include <thread>
#include <unistd.h>

namespace zrq406::cli {

using nlohmann::json;

namespace {

std::optional<std::vector<std::uint8_t>> readWholeFile(const std::string& path, std::string& error) {
    const FileReadResult read = readRegularFile(path, mme::kMaxUpgradeFileSize);
    if (!read) {
        error = read.error;
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(read.content.begin(), read.content.end());
}

// Shows the progress value as a bar on the terminal until stopped, and the steps as lines above it. Only a
// terminal on standard error gets the bar; the lines go to `err` in any case.
class ProgressBar {
public:
    ProgressBar(const mme::Progress& progress, std::ostream& err)
        : m_progress(progress), m_err(err), m_enabled(&err == &std::cerr && isatty(STDERR_FILENO) != 0) {
        if (m_enabled)
            m_thread = std::thread([this] { loop(); });
    }
    ~ProgressBar() { stop(); }
    void line(const std::string& text) {
        std::lock_guard lock(m_mutex);
        if (m_enabled)
            m_err << "\r" << std::string(60, ' ') << "\r";
        m_err << text << '\n';
    }
    void stop() {
        if (!m_thread.joinable())
            return;
        m_stop = true;
        m_thread.join();
        std::lock_guard lock(m_mutex);
        draw();
        m_err << '\n';
    }

private:
    void loop() {
        while (!m_stop) {
            {
                std::lock_guard lock(m_mutex);
                draw();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    void draw() {
        if (const int left = m_progress.restartSecondsLeft(); left >= 0) {
            m_err << "\r" << std::string(60, ' ') << "\rwaiting for the device to restart: given up in " << left
                  << " s " << std::flush;
            return;
        }
        const double value = std::clamp(m_progress.fraction.load(), 0.0, 1.0);
        const int filled = static_cast<int>(value * 40);
        m_err << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
              << std::string(static_cast<std::size_t>(40 - filled), ' ') << "] " << static_cast<int>(value * 100)
              << "% " << std::flush;
    }

    const mme::Progress& m_progress;
    std::ostream& m_err;
    bool m_enabled;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::thread m_thread;
};

std::atomic<bool> g_interrupted{false};
extern "C" void onInterrupt(int) {
    g_interrupted = true;
}

} // namespace

int runCheckFile(const GlobalOptions& options, const std::string& file, Output& io) {
    std::string error;
    const auto upgrade = mme::readUpgradeFile(file, mme::kManufacturerWord, mme::kModelWord, error);
    if (!upgrade) {
        io.err << "zrq406: " << terminalText(error) << '\n';
        return kBadInput;
    }
    if (options.json)
        printJson(io.out, json{{"file", file},
                               {"version", upgrade->version},
                               {"firmwareBytes", upgrade->firmware.size()},
                               {"configBytes", mme::configBlockLength(upgrade->config)}});
    else
        io.out << terminalText(upgrade->version) << '\n';
    return kDone;
}

namespace {

// What an upgrade did to the device's network membership, and how to bring it back.
void printMembership(std::ostream& out, const MacAddress& device, app::NetworkMembership membership) {
    switch (membership) {
    case app::NetworkMembership::Kept:
        return;
    case app::NetworkMembership::LocalLeft:
        out << device.text()
            << " now uses the default network key: this computer no longer reaches the devices of its private "
               "network. Put it back with: zrq406 set-key --ask-password --local\n";
        return;
    case app::NetworkMembership::RemoteLeft:
        out << device.text()
            << " now uses the default network key, outside its private network, and this computer no longer "
               "reaches it. Put it back with: zrq406 set-key --default --local, then zrq406 set-key --ask-password "
               "--local --device "
            << device.text() << " --device-password-file FILE\n";
        return;
    }
}

} // namespace

int runUpgrade(const GlobalOptions& options, const std::string& file, const std::string& macText, Output& io) {
    // A bad file is refused before anything is sent.
    std::string error;
    if (!mme::readUpgradeFile(file, mme::kManufacturerWord, mme::kModelWord, error)) {
        io.err << "zrq406: " << error << '\n';
        return kBadInput;
    }
    std::optional<MacAddress> target;
    if (!macText.empty()) {
        target = parseMacArgument(macText, io);
        if (!target)
            return kBadInput;
    }
    Tool tool(options, io.err);
    app::Session& session = tool.session;
    if (auto code = openWithDevice(session, options, io))
        return *code;
    const MacAddress device = target.value_or(session.discoveryResult().local.mac);

    const app::NetworkMembership risk = app::membershipRiskOfUpgrade(session, device);
    mme::FirmwareUpgrade upgrade(session.operations(), session.pacing());
    const bool human = !options.json;
    ProgressBar bar(session.progress(), io.err);
    upgrade.setStepReporter([&](mme::UpgradeStep step) {
        if (!human)
            return;
        std::string text = std::string(mme::stepName(step)) + " ...";
        // Also where no bar counts down, the restart wait says how long it may take.
        if (const int left = session.progress().restartSecondsLeft(); step == mme::UpgradeStep::Restart && left >= 0)
            text += " (given up after " + std::to_string(left) + " s)";
        bar.line(text);
    });
    const auto outcome = upgrade.upgradeDevice(file, device);
    bar.stop();

    const auto after = app::membershipAfterUpgrade(session, device, outcome, risk);
    json report{{"mac", device.text()}, {"ok", outcome.ok}};
    if (after.membership != app::NetworkMembership::Kept)
        report["leftNetwork"] = true;
    if (!outcome.backup.empty())
        report["backup"] = outcome.backup.string();
    if (!outcome.ok) {
        report["failedStep"] = mme::stepName(outcome.failedStep);
        report["detail"] = outcome.detail;
    }
    if (options.json)
        printJson(io.out, report);
    if (!outcome.backup.empty() && human)
        io.out << "The previous configuration block of " << device.text() << " is saved in " << outcome.backup.string()
               << '\n';
    if (!outcome.ok) {
        if (human)
            printMembership(io.err, device, after.membership);
        io.err << "zrq406: " << tool.texts.message(app::upgradeMessageKey(outcome)) << "\nzrq406: failed to "
               << mme::stepName(outcome.failedStep) << ": " << terminalText(outcome.detail) << '\n';
        return outcome.failedStep == mme::UpgradeStep::CheckFile ? kBadInput : kRefused;
    }
    if (human) {
        if (outcome.verdict == mme::VersionVerdict::Same)
            io.out << device.text() << " already runs this firmware and configuration; nothing was written\n";
        else
            io.out << tool.texts.message("msg31") << '\n';
    }
    if (human)
        printMembership(io.out, device, after.membership);
    return kDone;
}

int runPackUpgrade(const GlobalOptions& options, const PackRequest& request, Output& io) {
    if (request.version.empty() || request.version.size() > mme::upgrade_header::kVersionWidth) {
        io.err << "zrq406: the version text must be 1 to 32 characters\n";
        return kBadInput;
    }
    if (request.manufacturer.size() >= mme::upgrade_header::kManufacturerWidth ||
        request.model.size() >= mme::upgrade_header::kModelWidth) {
        io.err << "zrq406: the manufacturer text holds at most 20 characters and the model text at most 10\n";
        return kBadInput;
    }
    std::string error;
    const auto firmware = readWholeFile(request.firmware, error);
    const auto config = firmware ? readWholeFile(request.config, error) : std::nullopt;
    if (!firmware || !config) {
        io.err << "zrq406: " << error << '\n';
        return kBadInput;
    }
    const auto packed = mme::packUpgradeFile(*firmware, *config, request.version, request.manufacturer, request.model);
    // What is written must pass the same checks as any upgrade file read later.
    if (!mme::parseUpgradeFile(packed, request.manufacturer, request.model, error)) {
        io.err << "zrq406: " << error << '\n';
        return kBadInput;
    }
    // Upgrade files hold no secrets: anyone may read them.
    const auto written = writeFileAtomically(request.output, packed, FileAccess::Everyone);
    if (!written) {
        io.err << "zrq406: " << written.error << '\n';
        return kBadInput;
    }
    if (options.json)
        printJson(io.out, json{{"file", request.output}, {"bytes", packed.size()}, {"version", request.version}});
    else
        io.out << request.output << ": " << packed.size() << " bytes, version " << terminalText(request.version)
               << '\n';
    return kDone;
}

int runDeriveKey(const GlobalOptions& options, bool nmk, const PasswordSource& source, Output& io) {
    const auto password = readPassword(source, "Password: ", io);
    if (!password)
        return kBadInput;
    const mme::Key key = nmk ? mme::DeriveNmk(*password) : mme::DeriveDak(*password);
    if (options.json)
        printJson(io.out, json{{nmk ? "nmk" : "dak", hexText(key)}});
    else
        io.out << hexText(key) << '\n';
    return kDone;
}

int runSimulate(const GlobalOptions&, const std::string& interfaceName, const std::string& network, bool quiet,
                Output& io) {
    // The simulated devices answer from their own addresses, and the frame helper sends from the interface's
    // only: simulate never goes through it, it opens the interface through libpcap itself.
    if (!link::missingCapabilities().empty()) {
        io.err << "zrq406: simulate needs CAP_NET_RAW and CAP_NET_ADMIN of its own: it answers from the simulated "
                  "devices' own MAC addresses, which the frame helper does not send, so it opens the interface "
                  "through libpcap itself; run it as root, e.g. sudo zrq406 --interface "
               << terminalText(interfaceName) << " simulate\n";
        return kRefused;
    }
    g_interrupted = false;
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    std::optional<std::string> file;
    if (!network.empty())
        file = network;
    return sim::runSimulator(interfaceName, file, quiet, g_interrupted, io.out);
}

} // namespace zrq406::cli
