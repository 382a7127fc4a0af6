#include "cli/commands.h"

#include "platform/display_text.h"
#include "platform/operation_refused.h"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <exception>
#include <ostream>
#include <sstream>

namespace zrq406::cli {

namespace {

int runParsed(int argc, char** argv, std::ostream& out, std::ostream& err, std::istream* in) {
    CLI::App app{"Manages TALVERN ZRQ406 powerline adapters from the command line.", "zrq406"};
    app.require_subcommand(1);
    app.fallthrough();

    GlobalOptions options;
    std::string simulateFile;
    auto* simulate = app.add_option("--simulate", simulateFile,
                                    "Work on a simulated powerline network: the built-in one, or the one of FILE")
                         ->expected(0, 1)
                         ->type_name("[=FILE]");
    app.add_option("--interface", options.link.interfaceName, "Use this Ethernet interface only");
    app.add_option("--capture", options.link.capturePath, "Write every frame sent and received to a pcap file");
    app.add_flag("--json", options.json, "Print one JSON document instead of a table");
    app.add_option("--lang", options.language, "Language of device words: en or de (default: the locale)")
        ->check(CLI::IsMember({"en", "de"}));
    app.add_option("--history", options.historyPath, "Use this device history file instead of devices.dat");

    auto* adapters = app.add_subcommand("adapters", "List the usable Ethernet adapters");

    bool noSave = false;
    auto* scan = app.add_subcommand("scan", "Find the local device and every station of its network");
    scan->add_flag("--no-save", noSave, "Leave the device history and the link history as they are");

    std::string mac;
    auto* reset = app.add_subcommand("reset", "Reset a device to its factory settings");
    reset->add_option("MAC", mac, "The device's MAC address")->required();

    std::string ledState;
    auto* led = app.add_subcommand("led", "Switch a device's LEDs on or off");
    led->add_option("MAC", mac, "The device's MAC address")->required();
    led->add_option("STATE", ledState, "on or off")->required()->check(CLI::IsMember({"on", "off"}));

    std::string pairAction;
    bool yes = false;
    std::vector<std::string> pairWords;
    auto* pair = app.add_subcommand("pair", "Press a device's pair button (the local one without MAC): join, leave or status");
    pair->add_option("WORDS", pairWords, "[MAC] join|leave|status")->required()->expected(1, 2);
    pair->add_flag("--yes", yes, "Leave without asking first (for scripts)");

    auto* restart = app.add_subcommand("restart", "Restart a device, keeping its key, name and settings");
    restart->add_option("MAC", mac, "The device's MAC address")->required();

    auto* hosts = app.add_subcommand("hosts", "List the computers and other hosts behind a device (the local one without MAC)");
    hosts->add_option("MAC", mac, "The device's MAC address");

    SetKeyRequest keyRequest;
    PasswordSource networkPassword;
    std::string networkPasswordText;
    bool useDefault = false;
    auto* setKey = app.add_subcommand("set-key", "Put devices on a new network key (remote devices first)");
    auto* passwordOption =
        setKey->add_option("--password", networkPasswordText, "Network password (8 to 64 characters)");
    auto* passwordFileOption = setKey->add_option(
        "--password-file", networkPassword.file, "Read the network password from the first line of FILE (- for stdin)");
    auto* askOption =
        setKey->add_flag("--ask-password", networkPassword.prompt, "Ask for the network password (no echo)");
    auto* defaultOption = setKey->add_flag("--default", useDefault, "Use the public default key (HomePlugAV)");
    passwordOption->excludes(defaultOption)->excludes(passwordFileOption)->excludes(askOption);
    passwordFileOption->excludes(defaultOption)->excludes(askOption);
    askOption->excludes(defaultOption);
    setKey->add_flag("--local", keyRequest.local, "Key the device attached to this computer (last)");
    setKey->add_option("--device", keyRequest.devices, "A remote device's MAC address (repeatable)");
    setKey->add_option("--device-password", keyRequest.devicePasswords,
                       "The password printed on that device, in the same order");
    setKey->add_option("--device-password-file", keyRequest.devicePasswordFile,
                       "Remote devices and their passwords, one \"MAC PASSWORD\" per line (- for stdin)");

    PasswordSource devicePassword;
    std::string devicePasswordText;
    auto* checkPassword = app.add_subcommand("check-password", "Prove a remote device's password; nothing changes");
    checkPassword->add_option("MAC", mac, "The device's MAC address")->required();
    auto* devicePasswordArgument = checkPassword->add_option(
        "PASSWORD", devicePasswordText, "Its device password, XXXX-XXXX-XXXX-XXXX (asked for when left out)");
    checkPassword
        ->add_option("--password-file", devicePassword.file,
                     "Read the device password from the first line of FILE (- for stdin)")
        ->excludes(devicePasswordArgument);

    std::string file;
    auto* upgrade = app.add_subcommand("upgrade", "Upgrade a device (the local one without MAC) from an upgrade file");
    upgrade->add_option("FILE", file, "The upgrade file")->required();
    upgrade->add_option("MAC", mac, "The device's MAC address");

    auto* checkFile = app.add_subcommand("check-file", "Check an upgrade file and print its version text");
    checkFile->add_option("FILE", file, "The upgrade file")->required();

    PackRequest pack;
    auto* packUpgrade = app.add_subcommand("pack-upgrade", "Build an upgrade file from its two images");
    packUpgrade->add_option("--firmware", pack.firmware, "Firmware image file")->required();
    packUpgrade->add_option("--config", pack.config, "Configuration block image file")->required();
    packUpgrade->add_option("--version", pack.version, "Version text (at most 32 characters)")->required();
    packUpgrade->add_option("--manufacturer", pack.manufacturer, "Manufacturer text")->default_val("TALVERN");
    packUpgrade->add_option("--model", pack.model, "Model text")->default_val("ZRQ406");
    packUpgrade->add_option("-o,--output", pack.output, "The upgrade file to write")->required();

    bool deriveNmk = false;
    bool deriveDak = false;
    PasswordSource keyPassword;
    std::string keyPasswordText;
    auto* derive = app.add_subcommand("derive-key", "Print the 16-byte key of a password in hex");
    auto* nmkFlag = derive->add_flag("--nmk", deriveNmk, "Network membership key of a network password");
    auto* dakFlag = derive->add_flag("--dak", deriveDak, "Device access key of a device password");
    nmkFlag->excludes(dakFlag);
    auto* keyPasswordArgument =
        derive->add_option("PASSWORD", keyPasswordText, "The password (asked for when left out)");
    derive
        ->add_option("--password-file", keyPassword.file, "Read the password from the first line of FILE (- for stdin)")
        ->excludes(keyPasswordArgument);

    auto* history = app.add_subcommand("history", "Print the device history; links and devices read the link history");
    history->require_subcommand(0, 1);
    bool prune = false;
    int keepDays = 0;
    history->add_flag("--prune", prune, "Drop scans older than the retention limit and compact the link history");
    history
        ->add_option("--keep-days", keepDays,
                     "With --prune: keep this many days (default 90, or "
                     "$ZRQ406_LINK_HISTORY_DAYS)")
        ->check(CLI::Range(1, 36500));
    LinkHistoryRequest linkRequest;
    auto* historyLinks = history->add_subcommand("links", "Each link's rate over time, its figures and drops");
    historyLinks->add_option("--since", linkRequest.since, "How far back: 30m, 12h, 7d, 4w (default 7d)");
    historyLinks->add_option("--device", linkRequest.device, "Only the links from or to this MAC address");
    historyLinks->add_flag("--csv", linkRequest.csv, "One CSV row per link and scan");
    bool devicesCsv = false;
    auto* historyDevices = history->add_subcommand("devices", "When each device was seen first and last");
    historyDevices->add_flag("--csv", devicesCsv, "Print CSV");
    std::string alertsSince = "7d";
    auto* historyAlerts = history->add_subcommand(
        "alerts", "Slow links, devices that stopped answering, new devices and firmware changes, oldest first");
    historyAlerts->add_option("--since", alertsSince, "How far back: 30m, 12h, 7d, 4w (default 7d)");

    std::string qosWrite;
    auto* qos = app.add_subcommand("qos", "Print a device's priority (QoS) settings, or change them");
    qos->add_option("MAC", mac, "The device's MAC address")->required();
    qos->add_option("--write", qosWrite,
                    "Change them to a JSON file's (- for stdin), written as --json prints them; what it leaves out "
                    "keeps its value");

    std::string reportFile;
    auto* report =
        app.add_subcommand("report", "Write the diagnostics report: this computer, the devices, the history");
    report->add_option("-o,--output", reportFile, "Write it to FILE (replaced in one step) instead of standard output");

    auto* linksCommand =
        app.add_subcommand("links", "Print the rates between every two devices in both directions, weakest first");
    std::string healthMac;
    auto* health = app.add_subcommand(
        "health", "Print the losses of every link (or of one device's links) in both directions, weakest first");
    health->add_option("MAC", healthMac, "Only the links of this device");
    CarriersRequest carriersRequest;
    auto* carriers = app.add_subcommand(
        "carriers", "Print the carrier map with which DEVICE receives from PEER, and the bands that carry no data");
    carriers->add_option("DEVICE", carriersRequest.device, "The receiving device's MAC address")->required();
    carriers->add_option("PEER", carriersRequest.peer, "The sending device's MAC address")->required();
    carriers->add_option("--slot", carriersRequest.slot, "Only this slot (0-5); without it every slot and their mean");
    carriers->add_flag("--csv", carriersRequest.csv, "One CSV row per carrier");
    std::string metricsFile;
    auto* metrics = app.add_subcommand("metrics", "Write the devices and links as Prometheus/OpenMetrics text");
    metrics->add_option("-o,--output", metricsFile,
                        "Write them to FILE (replaced in one step, for the node exporter's text-file collector)");

    MonitorRequest monitorRequest;
    auto* monitor = app.add_subcommand(
        "monitor", "Scan on a timer, keep the link history and publish the devices to an MQTT broker (Home Assistant)");
    monitor->add_option("--interval", monitorRequest.interval, "Seconds between scans (default 120, at least 10)");
    monitor->add_option("--mqtt", monitorRequest.mqtt, "The broker: mqtt://[user@]host[:port] or mqtts://...");
    monitor->add_option("--mqtt-ca", monitorRequest.mqttCa, "CA certificate file for an mqtts:// broker");
    monitor->add_option("--mqtt-password-file", monitorRequest.passwordFile,
                        "Read the broker password from the first line of FILE (not readable by others)");
    monitor->add_option("--mqtt-keepalive", monitorRequest.keepalive, "MQTT keepalive in seconds (default 30)");
    monitor->add_option("--mqtt-prefix", monitorRequest.mqttPrefix, "Topic prefix (default zrq406)");
    monitor->add_option("--discovery-prefix", monitorRequest.discoveryPrefix,
                        "Home Assistant's discovery prefix (default homeassistant)");
    monitor->add_option("--forget-after", monitorRequest.forgetAfter,
                        "Remove a device from Home Assistant after this many days unseen (default 30)");

    std::string networkFile;
    bool quiet = false;
    auto* simulateCommand =
        app.add_subcommand("simulate", "Answer as a simulated powerline network on a real interface");
    simulateCommand->add_option("--network", networkFile, "Network description (default: the built-in network)");
    simulateCommand->add_flag("-q,--quiet", quiet, "Print nothing per request");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        out << app.help();
        return kDone;
    } catch (const CLI::CallForAllHelp& e) {
        out << app.help("", CLI::AppFormatMode::All);
        return kDone;
    } catch (const CLI::ParseError& e) {
        err << "zrq406: " << e.what() << "\n"
            << "Run 'zrq406 --help' for the commands and options.\n";
        return kBadInput;
    }

    if (simulate->count() > 0) {
        options.link.simulate = simulateFile;
    } else if (const char* env = std::getenv("ZRQ406_SIMULATE"); env != nullptr && *env != '\0') {
        const std::string value = env;
        options.link.simulate = value == "1" ? std::string() : value;
    }

    Output io{out, err, in};
    if (adapters->parsed())
        return runAdapters(options, io);
    if (scan->parsed())
        return runScan(options, !noSave, io);
    if (reset->parsed())
        return runReset(options, mac, io);
    if (led->parsed())
        return runLed(options, mac, ledState, io);
    if (pair->parsed()) {
        const std::string action = pairWords.back();
        if (action != "join" && action != "leave" && action != "status") {
            err << "zrq406: pair needs join, leave or status (after the MAC, if any)\n";
            return kBadInput;
        }
        if (yes && action != "leave") {
            err << "zrq406: --yes goes with pair leave only\n";
            return kBadInput;
        }
        return runPair(options, pairWords.size() == 2 ? pairWords.front() : std::string(), action, yes, io);
    }
    if (restart->parsed())
        return runRestart(options, mac, io);
    if (hosts->parsed())
        return runHosts(options, mac, io);
    if (setKey->parsed()) {
        if (passwordOption->count() > 0)
            networkPassword.text = networkPasswordText;
        if (!useDefault && !networkPassword.given()) {
            err << "zrq406: set-key needs --password PW, --password-file FILE, --ask-password or --default\n";
            return kBadInput;
        }
        if (!useDefault)
            keyRequest.password = networkPassword;
        return runSetKey(options, keyRequest, io);
    }
    if (checkPassword->parsed()) {
        if (devicePasswordArgument->count() > 0)
            devicePassword.text = devicePasswordText;
        devicePassword.prompt = !devicePassword.given();
        return runCheckPassword(options, mac, devicePassword, io);
    }
    if (upgrade->parsed())
        return runUpgrade(options, file, mac, io);
    if (checkFile->parsed())
        return runCheckFile(options, file, io);
    if (packUpgrade->parsed())
        return runPackUpgrade(options, pack, io);
    if (derive->parsed()) {
        if (!deriveNmk && !deriveDak) {
            err << "zrq406: derive-key needs --nmk or --dak\n";
            return kBadInput;
        }
        if (keyPasswordArgument->count() > 0)
            keyPassword.text = keyPasswordText;
        keyPassword.prompt = !keyPassword.given();
        return runDeriveKey(options, deriveNmk, keyPassword, io);
    }
    if (historyLinks->parsed())
        return runLinkHistory(options, linkRequest, io);
    if (historyDevices->parsed())
        return runDeviceSightings(options, devicesCsv, io);
    if (historyAlerts->parsed())
        return runHistoryAlerts(options, alertsSince, io);
    if (history->parsed())
        return prune ? runPruneHistory(options, keepDays, io) : runHistory(options, io);
    if (qos->parsed())
        return runQos(options, mac, qosWrite, io);
    if (report->parsed())
        return runReport(options, reportFile, io);
    if (linksCommand->parsed())
        return runLinks(options, io);
    if (health->parsed())
        return runHealth(options, healthMac, io);
    if (carriers->parsed())
        return runCarriers(options, carriersRequest, io);
    if (metrics->parsed())
        return runMetrics(options, metricsFile, io);
    if (monitor->parsed())
        return runMonitor(options, monitorRequest, io);
    if (simulateCommand->parsed()) {
        if (options.link.interfaceName.empty()) {
            err << "zrq406: simulate needs --interface IF\n";
            return kBadInput;
        }
        return runSimulate(options, options.link.interfaceName, networkFile, quiet, io);
    }
    return kBadInput;
}

} // namespace

int runCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err, std::istream* in) {
    // Whatever goes wrong below, the tool says what failed and ends with an exit code, never an abort.
    try {
        return runParsed(argc, argv, out, err, in);
    } catch (const OperationRefused& e) {
        err << "zrq406: " << terminalText(e.what()) << '\n';
    } catch (const std::exception& e) {
        err << "zrq406: the command failed: " << e.what() << '\n';
    } catch (...) {
        err << "zrq406: the command failed\n";
    }
    return kRefused;
}

} // namespace zrq406::cli
